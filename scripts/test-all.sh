#!/usr/bin/env bash
# Every test: builds and runs the suites in the dev preset, then the unit and end-to-end suites
# under AddressSanitizer with UndefinedBehaviorSanitizer, and under ThreadSanitizer, each with a
# short soak; then every fuzz target briefly (scripts/fuzz.sh, about 20 s a target).
set -euo pipefail
cd "$(dirname "$0")/.."

# The cross compiler lets the tests rebuild the resident and compare it with the committed image.
scripts/install-deps.sh gcc-arm-none-eabi binutils-arm-none-eabi

# The soak's seeds in each preset: random programming jobs, each judged (tests/soak.cpp).
declare -A soak_seeds=([dev]=40 [asan]=10 [tsan]=10)
for preset in dev asan tsan; do
  echo "==== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  "build/$preset/tests/zv8810-soak" --seeds "${soak_seeds[$preset]}"
done

echo "==== fuzz"
scripts/fuzz.sh 20
