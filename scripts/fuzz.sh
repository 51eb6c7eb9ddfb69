#!/usr/bin/env bash
# Fuzzing: builds the fuzz preset (clang, libFuzzer, AddressSanitizer and UndefinedBehavior-
# Sanitizer) and runs every target SECONDS each (default 60), starting from the committed seeds
# in fuzz/corpus/. Exits non-zero when any target reports a crash, a leak, a sanitizer finding or
# a failed property; the input that did it is kept in build/fuzz/artifacts/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (targets without the fuzz_ prefix)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
case "$seconds" in '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2; exit 64 ;; esac

# Debian's clang 14 carries libFuzzer in its compiler runtime package.
scripts/install-deps.sh clang libclang-rt-14-dev

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

bin=build/fuzz/fuzz
work=build/fuzz/corpus
artifacts=build/fuzz/artifacts
mkdir -p "$work" "$artifacts"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
summary=""
for t in "${targets[@]}"; do
  program="$bin/fuzz_$t"
  [ -x "$program" ] || { echo "no fuzz target $t" >&2; exit 64; }
  mkdir -p "$work/$t"
  log="build/fuzz/$t.log"
  echo "==== fuzz_$t for ${seconds}s"
  status=0
  "$program" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts/$t-" "$work/$t" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ $status -ne 0 ] || grep -qE "ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|property failed" "$log"; then
    failed+=("$t")
    grep -E "ERROR:|runtime error:|property failed|SUMMARY:|Test unit written" "$log" | head -20 >&2
    summary+=$(printf '%-14s %12s executions  FAILED (see %s)' "$t" "${runs:-?}" "$log")$'\n'
  else
    summary+=$(printf '%-14s %12s executions  ok' "$t" "${runs:-?}")$'\n'
  fi
done
echo "==== fuzz summary (${seconds}s a target)"
printf '%s' "$summary"
[ ${#failed[@]} -eq 0 ] || { echo "fuzzing found faults in: ${failed[*]}" >&2; exit 1; }
