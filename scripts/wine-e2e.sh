#!/usr/bin/env bash
# zv8810-fwu.exe under Wine against zv8810-sim, side by side with the Linux zv8810-fwu: for each
# scenario both run against a fresh simulator, and their log lines (times masked, line ends as
# each system writes them made alike), the bytes each sent on the line (from --trace, in order)
# and their exit statuses must be the same. A programming run
# must also leave the file's image in the simulator's flash.
#
#   scripts/wine-e2e.sh WINDOWS_BUILD LINUX_BUILD
#
# WINDOWS_BUILD is the mingw preset's tree (its wineprefix is used), LINUX_BUILD one that has
# zv8810-sim, zv8810-mkfw and zv8810-fwu (the dev preset's). The simulator's pseudo-terminal is
# reached from Wine as comN: a link in the prefix's dosdevices.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
win_build="$(cd "$1" && pwd)"
linux_build="$(cd "$2" && pwd)"
win_exe="$win_build/cli/zv8810-fwu.exe"
sim="$linux_build/device/zv8810-sim"
mkfw="$linux_build/device/zv8810-mkfw"
fwu="$linux_build/cli/zv8810-fwu"
for program in "$win_exe" "$sim" "$mkfw" "$fwu"; do
  if [ ! -x "$program" ]; then
    echo "wine-e2e: $program is missing: build the mingw and dev presets first" >&2
    exit 77  # ctest counts the test as skipped
  fi
done
export ZV_WINEPREFIX="$win_build/wineprefix"
wine_run=("$root/scripts/wine-run.sh" --prefix "$ZV_WINEPREFIX")
"${wine_run[@]}" cmd /c exit 0 >/dev/null 2>&1 || true  # makes the prefix on the first run
dosdevices="$ZV_WINEPREFIX/dosdevices"

work="$(mktemp -d /tmp/zv8810-wine-e2e.XXXXXX)"
export XDG_DATA_HOME="$work/xdg"  # the simulator's COM alias stays private to this run
sim_pid=""
com=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -n "$com" ] && rm -f "$dosdevices/$com"
  rm -rf "$work"
}
trap cleanup EXIT

"$mkfw" "$work/firmware.bin" --size 20000 --version 3.08 --date "Dec 10 2026" \
  --comment "wine e2e" >/dev/null
win_file="$(WINEPREFIX="$ZV_WINEPREFIX" WINEDEBUG=-all winepath -w "$work/firmware.bin" 2>/dev/null)"

# Starts the simulator as COMn with its flash in $1; sets sim_pid and device.
start_sim() {
  local number="$1" flash="$2"
  shift 2
  coproc SIM { exec "$sim" --com "COM$number" --flash "$flash" "$@" 2>/dev/null; }
  sim_pid=$SIM_PID
  read -r _ device <&"${SIM[0]}"
}

stop_sim() {
  kill "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=""
}

# The bytes of one direction (">>" sent, "<<" received) from a --trace log, one per line.
wire() {
  tr -d '\r' <"$1" | grep -a " $2 " | sed -E 's/^[^>]*(>>|<<)//' | tr ' ' '\n' | grep -v '^$' || true
}

# Log lines as a person reads them: CR LF and in-place rewrites become plain lines, times and the
# system file's path are masked.
log_lines() {
  tr '\r' '\n' <"$1" | grep -v '^$' |
    sed -E -e 's/[0-9]{2}[:.][0-9]{2}[:.][0-9]{2}/TIME/g' \
      -e "s#$(printf '%s' "$win_file" | sed 's/[\\.]/\\&/g')#FILE#g" -e "s#$work/firmware.bin#FILE#g"
}

flash_holds_file() {
  local flash="$1" size
  size=$(stat -c %s "$work/firmware.bin")
  [ "$(od -An -tu4 -j $((0x10000)) -N 4 "$flash" | tr -d ' ')" = "$size" ] &&
    cmp -s -n "$size" -i $((0x10008)):0 "$flash" "$work/firmware.bin"
}

failures=0
passes=0
# scenario NAME EXPECTED_EXIT "SIM ARGS" CLI ARGS... ("FILE" stands for the system file)
scenario() {
  local name="$1" expected="$2" sim_args="$3"
  shift 3
  local number=$((40 + passes + failures))
  local side
  for side in linux windows; do
    local args=() a
    for a in "$@"; do
      if [ "$a" = FILE ]; then
        if [ $side = linux ]; then args+=("$work/firmware.bin"); else args+=("$win_file"); fi
      else
        args+=("$a")
      fi
    done
    rm -f "$work/flash-$side.img"
    # shellcheck disable=SC2086
    start_sim "$number" "$work/flash-$side.img" $sim_args
    if [ $side = linux ]; then
      timeout 120 "$fwu" "${args[@]}" --port "COM$number" --trace >"$work/$side.out" 2>"$work/$side.err"
    else
      com="com$number"
      ln -sfn "$device" "$dosdevices/$com"
      timeout 120 "${wine_run[@]}" "$win_exe" "${args[@]}" --port "COM$number" --trace \
        >"$work/$side.out" 2>"$work/$side.err"
    fi
    echo $? >"$work/$side.exit"
    stop_sim
    [ $side = windows ] && rm -f "$dosdevices/$com" && com=""
  done
  local problems=()
  [ "$(cat "$work/linux.exit")" = "$expected" ] ||
    problems+=("Linux exit $(cat "$work/linux.exit"), expected $expected")
  [ "$(cat "$work/windows.exit")" = "$expected" ] ||
    problems+=("Windows exit $(cat "$work/windows.exit"), expected $expected")
  diff <(log_lines "$work/linux.out") <(log_lines "$work/windows.out") >"$work/log.diff" ||
    problems+=("log lines differ: $(cat "$work/log.diff")")
  # What the updater puts on the line is the same to the byte. What it receives is not compared:
  # the working receiver sends its position sentences once a second by its own clock, so where
  # they fall in the stream differs from run to run.
  cmp -s <(wire "$work/linux.err" '>>') <(wire "$work/windows.err" '>>') ||
    problems+=("bytes sent differ: Linux $(wire "$work/linux.err" '>>' | wc -l), Windows $(wire "$work/windows.err" '>>' | wc -l); first difference at $(cmp <(wire "$work/linux.err" '>>') <(wire "$work/windows.err" '>>') | sed 's/.*line //')")
  local rx_linux rx_windows
  rx_linux=$(wire "$work/linux.err" '<<' | wc -l)
  rx_windows=$(wire "$work/windows.err" '<<' | wc -l)
  [ "$(wire "$work/windows.err" '>>' | wc -l)" -gt 0 ] || [ "$expected" = 7 ] ||
    problems+=("Windows sent nothing")
  if [ "$1" = program ] && [ "$expected" = 0 ] && ! flash_holds_file "$work/flash-windows.img"; then
    problems+=("the simulator's flash does not hold the file after the Windows run")
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name (exit $expected, $(log_lines "$work/windows.out" | wc -l) log lines, $(wire "$work/windows.err" '>>' | wc -l) bytes sent, $rx_windows received, Linux $rx_linux)"
    passes=$((passes + 1))
  else
    echo "FAIL $name"
    printf '     %s\n' "${problems[@]}"
    echo "     Windows output:"
    sed 's/^/       /' "$work/windows.out" | head -40
    grep -av '>>\|<<' "$work/windows.err" | sed 's/^/       /' | head -20
    failures=$((failures + 1))
  fi
}

scenario "versions, NMEA, reset auto" 0 "" versions --reset auto --protocol nmea --baud 115200
scenario "program, NMEA, reset auto" 0 "" program --reset auto --protocol nmea --baud 115200 --file FILE
scenario "versions, ZORP at 19200" 0 "--protocol zorp --baud 19200" \
  versions --reset auto --protocol zorp --baud 19200
scenario "versions, reset manual" 0 "--state bootloader" versions --reset manual
scenario "receiver does not answer" 6 "--fault silent" versions
scenario "erase refused" 4 "--fault erase-fail" program --file FILE
scenario "check word refused" 5 "--fault check-refuse" program --file FILE
scenario "Russian log, no restart acknowledgement" 2 "--fault no-restart-ack" program --file FILE --lang ru

# A COM port with nothing behind it: both refuse with the open failure status.
out="$("${wine_run[@]}" "$win_exe" versions --port COM97 2>&1)"
status=$?
if [ $status = 7 ] && printf '%s' "$out" | grep -q "Could not open COM97"; then
  echo "ok   a port with nothing behind it (exit 7)"
  passes=$((passes + 1))
else
  echo "FAIL a port with nothing behind it: exit $status, output: $out"
  failures=$((failures + 1))
fi

# A crash made on purpose (the test switch ZV8810_TEST_CRASH) in the programming thread and in
# the main thread: exit 70, the report's path on standard error, the report and a minidump in
# %LOCALAPPDATA%\ZV8810 Firmware Updater\Crash Reports.
crash_scenario() {
  local wish="$1" thread="$2" cause="$3"
  local number=$((40 + passes + failures))
  start_sim "$number" "$work/flash-crash.img" --stream 0
  com="com$number"
  ln -sfn "$device" "$dosdevices/$com"
  ZV8810_TEST_CRASH="$wish" timeout 120 "${wine_run[@]}" "$win_exe" versions --reset auto \
    --port "COM$number" >"$work/crash.out" 2>"$work/crash.err"
  local status=$?
  stop_sim
  rm -f "$dosdevices/$com"
  com=""
  local problems=() report="" unix_report=""
  [ $status = 70 ] || problems+=("exit $status, expected 70")
  report="$(tr -d '\r' <"$work/crash.err" | sed -n 's/.*a crash report was written to //p')"
  [ -n "$report" ] && unix_report="$(WINEPREFIX="$ZV_WINEPREFIX" WINEDEBUG=-all winepath -u "$report" 2>/dev/null)"
  if [ -z "$unix_report" ] || [ ! -f "$unix_report" ]; then
    problems+=("no report named on standard error: $(cat "$work/crash.err")")
  else
    local part
    for part in "Program: zv8810-fwu 2.3.0.1" "System: Windows" "Time: 20" "$thread" \
      "Cause: $cause" "zv8810-fwu.exe+0x" "port COM$number (" \
      "stage:   Inquiry of the bootloader version" "Execution is started - " \
      "  NMEA connecting - done"; do
      grep -qF -- "$part" "$unix_report" || problems+=("the report lacks \"$part\"")
    done
    [ -s "${unix_report%.txt}.dmp" ] || problems+=("no minidump beside the report")
    rm -f "$unix_report" "${unix_report%.txt}.dmp"
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   a crash ($wish) leaves a report and a minidump (exit 70)"
    passes=$((passes + 1))
  else
    echo "FAIL a crash ($wish)"
    printf '     %s\n' "${problems[@]}"
    [ -n "$unix_report" ] && [ -f "$unix_report" ] && sed 's/^/       /' "$unix_report"
    failures=$((failures + 1))
  fi
}
crash_scenario "thread@7" "(not the main thread)" "exception 0xc0000005 EXCEPTION_ACCESS_VIOLATION"
crash_scenario "main:exception@9" "(the main thread)" \
  "unhandled C++ exception std::runtime_error: a crash asked for in the main thread"

echo "wine-e2e: $passes passed, $failures failed"
[ $failures -eq 0 ]
