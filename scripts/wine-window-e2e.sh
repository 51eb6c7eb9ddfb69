#!/usr/bin/env bash
# ZV8810_FWU.exe under Wine against zv8810-sim, worked from outside by zv8810-window-driver.exe
# through the window's controls' messages: it sets the reset method, bit rate, protocol and
# system file, presses "Programming" or "Versions Info", reads and answers the message boxes and
# reads the log list. For each scenario the Linux zv8810-fwu runs the same job against a fresh
# simulator; the log lines and the message texts must be the same (times and the file's path
# masked).
#
#   scripts/wine-window-e2e.sh WINDOWS_BUILD LINUX_BUILD
#
# WINDOWS_BUILD is the mingw preset's tree (its wineprefix is used), LINUX_BUILD one that has
# zv8810-sim, zv8810-mkfw and zv8810-fwu (the dev preset's). The window needs a display: without
# one the script runs itself under xvfb-run.
set -uo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
win_build="$(cd "$1" && pwd)"
linux_build="$(cd "$2" && pwd)"
window="$win_build/ui/win32/ZV8810_FWU.exe"
driver="$win_build/zv8810-window-driver.exe"
sim="$linux_build/device/zv8810-sim"
mkfw="$linux_build/device/zv8810-mkfw"
fwu="$linux_build/cli/zv8810-fwu"
for program in "$window" "$driver" "$sim" "$mkfw" "$fwu"; do
  if [ ! -f "$program" ]; then
    echo "wine-window-e2e: $program is missing: build the mingw and dev presets first" >&2
    exit 77  # ctest counts the test as skipped
  fi
done
export ZV_WINEPREFIX="$win_build/wineprefix"
export WINEPREFIX="$ZV_WINEPREFIX" WINEDEBUG=-all
wine_run=("$root/scripts/wine-run.sh" --prefix "$ZV_WINEPREFIX")
"${wine_run[@]}" cmd /c exit 0 >/dev/null 2>&1 || true  # makes the prefix on the first run
dosdevices="$ZV_WINEPREFIX/dosdevices"

work="$(mktemp -d /tmp/zv8810-window-e2e.XXXXXX)"
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
  --comment "window e2e" >/dev/null
"$mkfw" "$work/large.bin" --size 400000 --version 3.09 --date "Dec 11 2026" >/dev/null
"$mkfw" "$work/noblock.bin" --size 20000 --no-block >/dev/null
win_work="$(winepath -w "$work" 2>/dev/null)"
# The window keeps its settings beside itself: each run has its own copy of the program.
cp "$window" "$work/ZV8810_FWU.exe"

start_sim() {  # start_sim NUMBER FLASH [SIM ARGS...]: sets sim_pid and device
  local number="$1" flash="$2"
  shift 2
  coproc SIM { exec "$sim" --com "COM$number" --flash "$flash" "$@" 2>/dev/null; }
  sim_pid=$SIM_PID
  read -r _ device <&"${SIM[0]}"
}

stop_sim() {
  [ -n "$sim_pid" ] || return 0
  kill "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=""
}

mask() {
  tr -d '\r' | sed -E -e 's/[0-9]{2}[:.][0-9]{2}[:.][0-9]{2}/TIME/g' \
    -e "s#$(printf '%s' "$win_work" | sed 's/[\\.]/\\&/g')#WORK#g" -e "s#$work#WORK#g"
}

failures=0
passes=0
# scenario NAME "SIM ARGS" "CLI ARGS" DRIVER ARGS...
#   The window starts with the settings file naming COMn, the language of LANG (0 or 1, from the
#   environment) and reset "Auto"; the driver's arguments choose the rest. CUT (environment): the
#   Linux log's lines from the first one matching it on are not the window's (the command line
#   ends a versions inquiry by restarting the receiver; the window keeps the bootloader link).
scenario() {
  local name="$1" sim_args="$2" cli_args="$3"
  shift 3
  # ONLY (environment) runs the scenarios whose names hold it.
  [ -n "${ONLY:-}" ] && [[ "$name" != *"$ONLY"* ]] && return 0
  local number=$((50 + passes + failures))
  local lang_arg=en
  [ "${LANG_SETTING:-0}" = 1 ] && lang_arg=ru

  rm -f "$work/flash-linux.img"
  # shellcheck disable=SC2086
  if [ -z "${NO_LINUX:-}" ]; then
    start_sim "$number" "$work/flash-linux.img" $sim_args
    # shellcheck disable=SC2086
    timeout 120 "$fwu" $cli_args --port "COM$number" --lang "$lang_arg" >"$work/linux.out" 2>&1
    stop_sim
  else
    : >"$work/linux.out"
  fi

  rm -f "$work/flash-windows.img"
  # shellcheck disable=SC2086
  start_sim "$number" "$work/flash-windows.img" $sim_args
  com="com$number"
  ln -sfn "$device" "$dosdevices/$com"
  printf 'ComPort=COM%s\r\nComRate=115200\r\nProtocol=NMEA\r\nResetType=0\r\nLang=%s\r\n' \
    "$number" "${LANG_SETTING:-0}" >"$work/ZV8810_FWU.ini"
  if [ -n "${PULL_PORT:-}" ]; then
    # The port is there when the window shows, and gone when the button is pressed.
    rm -f "$work/go"
    mkfifo "$work/go"
    timeout 200 "${wine_run[@]}" "$driver" job "$win_work\\ZV8810_FWU.exe" "$@" go \
      <"$work/go" >"$work/windows.out" 2>&1 &
    local driver_pid=$! waited=0
    exec 8>"$work/go"  # the driver's standard input stays open until the go
    until grep -q READY "$work/windows.out" 2>/dev/null || [ $waited -ge 1200 ]; do
      sleep 0.1
      waited=$((waited + 1))
    done
    stop_sim
    rm -f "$dosdevices/$com"
    echo go >&8
    exec 8>&-
    wait "$driver_pid" 2>/dev/null
  else
    timeout 200 "${wine_run[@]}" "$driver" job "$win_work\\ZV8810_FWU.exe" "$@" >"$work/windows.out" 2>&1
  fi
  stop_sim
  rm -f "$dosdevices/$com"
  com=""

  # The Linux log: its lines that are log lines (the start, the stages, the reasons), the rest
  # is the final message.
  local linux_log linux_message window_log window_message problems=()
  linux_log="$(mask <"$work/linux.out" | grep -E '^(  |COM[0-9]+: )|- TIME$' || true)"
  if [ -n "${CUT:-}" ]; then
    linux_log="$(sed -E "/${CUT}/,\$d" <<<"$linux_log")"
  fi
  # The command line's advice that names its own options is not the window's.
  linux_message="$(mask <"$work/linux.out" | grep -vE '^(  |COM[0-9]+: )|- TIME$' | grep -v '^$' |
    grep -vE -- ' --[a-z]' || true)"
  window_log="$(mask <"$work/windows.out" | sed -n 's/^LOG //p')"
  window_message="$(mask <"$work/windows.out" | sed -n 's/^MESSAGE //p')"
  if [ -n "${CUT:-}" ]; then
    # What follows the cut is the window's own (its diagnosis), checked by EXPECT.
    window_log="$(sed -E "/${CUT}/,\$d" <<<"$window_log")"
    window_message="$(sed -E '/^The receiver answers in|^Приемник отвечает по/,$d' <<<"$window_message")"
  fi
  if [ -z "${NO_LINUX:-}" ]; then
    [ "$window_log" = "$linux_log" ] ||
      problems+=("log lines differ:" "$(diff <(echo "$linux_log") <(echo "$window_log") | sed 's/^/  /')")
    [ "$window_message" = "$linux_message" ] ||
      problems+=("messages differ:" "$(diff <(echo "$linux_message") <(echo "$window_message") | sed 's/^/  /')")
  fi
  grep -q '^FAIL' "$work/windows.out" && problems+=("the driver: $(grep '^FAIL' "$work/windows.out")")
  local expected
  while IFS= read -r expected; do
    [ -z "$expected" ] || mask <"$work/windows.out" | grep -qxF -- "$expected" ||
      problems+=("the window did not show: $expected")
  done <<<"${EXPECT:-}"
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name ($(wc -l <<<"$window_log") log lines, message: $(head -1 <<<"$window_message"))${ATTEMPT:+ (on the second try)}"
    passes=$((passes + 1))
  elif [ -z "${ATTEMPT:-}" ]; then
    # Under Wine on a busy machine a read of the receiver's memory may miss its time limit (the
    # firmware inquiry then says "no data"): a failed scenario runs once more, and says so.
    echo "     $name: the first try failed (${problems[0]} $(sed -n 2p <<<"${problems[1]:-}")); once more"
    ATTEMPT=2 scenario "$name" "$sim_args" "$cli_args" "$@"
  else
    echo "FAIL $name"
    printf '     %s\n' "${problems[@]}"
    echo "     Linux:"
    sed 's/^/       /' "$work/linux.out" | head -30
    echo "     Windows:"
    sed 's/^/       /' "$work/windows.out" | head -40
    failures=$((failures + 1))
  fi
}

file_arg="file=$win_work\\firmware.bin"
scenario "programming, NMEA, reset Auto" "" "program --reset auto --protocol nmea --baud 115200 --file $work/firmware.bin" \
  program reset=Auto rate=115200 protocol=NMEA "$file_arg"
CUT='System restarting|Запуск системы' LANG_SETTING=1 scenario "versions in Russian, ZORP at 19200, reset Auto" \
  "--protocol zorp --baud 19200" "versions --reset auto --protocol zorp --baud 19200" \
  versions reset=Программный rate=19200 protocol=ZORP "$file_arg"
CUT='System restarting' scenario "versions, reset Manual" "--state bootloader" "versions --reset manual" \
  versions reset=Manual "$file_arg"
# The wrong protocol: "not answer" as on Linux; then the window's diagnosis finds the receiver,
# offers its settings, and "Yes" sets them in the boxes.
CUT="Looking for the receiver" EXPECT="LOG Looking for the receiver's protocol and bit rate
LOG   NMEA, 115200 bit/s - answers
LOG Receiver answers: NMEA, 115200 bit/s
MESSAGE The receiver answers in NMEA at 115200 bit/s.
MESSAGE Take these settings?
PROTOCOL NMEA" scenario "the wrong protocol: not answer, the diagnosis" "" \
  "versions --reset auto --protocol zorp --baud 115200" versions reset=Auto protocol=ZORP \
  "$file_arg" boxes=2
# The reason beside the failed open is the window's own (the command line names the device).
reason="The port does not exist: check the cable and choose the port from the list again."
PULL_PORT=1 NO_LINUX=1 EXPECT="MESSAGE Could not open COM54!
MESSAGE $reason
LOG COM54: $reason" scenario "a port that went away: the reason" "" "" versions reset=Auto "$file_arg"

# A file without a description block: "Programming" asks first, and "Yes" writes it.
NO_LINUX=1 EXPECT="MESSAGE The file \"WORK\\noblock.bin\" has no description block (device, version): it may not be for this receiver.
MESSAGE Write it into the receiver anyway?
MESSAGE Execution is successfully completed" scenario "a file without a description block: asked, Yes" "" "" \
  program reset=Auto rate=115200 protocol=NMEA "file=$win_work\\noblock.bin" boxes=2

# Closing while the system file is written: the question, "No" goes on, "Yes" stops the job and
# the program ends.
NO_LINUX=1 EXPECT="QUESTION Warning
QUESTION Execution in process! If you stop execution,
QUESTION the software of the navigating receiver will be spoilt!
QUESTION Stop execution?" scenario "closing during a programming run" "" "" \
  program reset=Auto rate=115200 protocol=NMEA "file=$win_work\\large.bin" close=6

# Crashes made on purpose (the test switch ZV8810_TEST_CRASH) while the resident runs, in the UI
# thread by an exception nobody catches and in the programming thread by an access violation:
# the program ends with 70 and leaves a report and a minidump in %LOCALAPPDATA%\ZV8810 Firmware
# Updater\Crash Reports; each next start tells where the report is, once, in the language of the
# settings.
crash_folder=""
crash_start() {  # crash_start NUMBER LANG ACTION: one start through the driver, into $work/crash.out
  printf 'ComPort=COM%s\r\nComRate=115200\r\nProtocol=NMEA\r\nResetType=0\r\nLang=%s\r\nSystemFile=%s\r\n' \
    "$1" "$2" "$win_work\\firmware.bin" >"$work/ZV8810_FWU.ini"
  timeout 200 "${wine_run[@]}" "$driver" crash "$win_work\\ZV8810_FWU.exe" "$3" 2>&1 |
    tr -d '\r' >"$work/crash.out"
}
crash_scenario() {  # crash_scenario WISH THREAD CAUSE NOTICE (the report the start must tell of)
  local wish="$1" thread="$2" cause="$3" notice="$4"
  local number=$((50 + passes + failures)) problems=() report unix_report
  start_sim "$number" "$work/flash-crash.img" --stream 0
  com="com$number"
  ln -sfn "$device" "$dosdevices/$com"
  ZV8810_TEST_CRASH="$wish" crash_start "$number" 0 versions
  stop_sim
  rm -f "$dosdevices/$com"
  com=""
  grep -qx "EXIT 70" "$work/crash.out" || problems+=("the program did not end with 70")
  [ -z "$notice" ] || grep -qxF "NOTICE $notice" "$work/crash.out" ||
    problems+=("the start did not tell of $notice")
  report="$(sed -n 's/^REPORT //p' "$work/crash.out")"
  unix_report=""
  [ -n "$report" ] && [ "$report" != "$notice" ] && unix_report="$(winepath -u "$report" 2>/dev/null)"
  if [ -z "$unix_report" ] || [ ! -f "$unix_report" ]; then
    problems+=("no new crash report")
  else
    crash_folder="$(dirname "$unix_report")"
    local part
    for part in "Program: ZV8810_FWU 2.3.0.1" "System: Windows" "Time: 20" "$thread" \
      "Cause: $cause" "ZV8810_FWU.exe+0x" "port COM$number (" \
      "stage:   Inquiry of the bootloader version" "Execution is started - " \
      "  NMEA connecting - done"; do
      grep -qF -- "$part" "$unix_report" || problems+=("the report lacks \"$part\"")
    done
    [ -s "${unix_report%.txt}.dmp" ] || problems+=("no minidump beside the report")
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   a crash of the window ($wish) leaves a report and a minidump (exit 70)"
    passes=$((passes + 1))
    last_report="$report"
  else
    echo "FAIL a crash of the window ($wish)"
    printf '     %s\n' "${problems[@]}"
    sed 's/^/       /' "$work/crash.out"
    [ -n "$unix_report" ] && [ -f "$unix_report" ] && sed 's/^/       /' "$unix_report"
    failures=$((failures + 1))
    last_report=""
  fi
}
if [ -z "${ONLY:-}" ] || [[ "a crash" == *"$ONLY"* ]]; then
  last_report=""
  crash_scenario "main:exception@9" "(the main thread)" \
    "unhandled C++ exception std::runtime_error: a crash asked for in the main thread" ""
  crash_scenario "thread@7" "(not the main thread)" \
    "exception 0xc0000005 EXCEPTION_ACCESS_VIOLATION" "$last_report"
  # The next start tells of the last report, in Russian here; the one after says nothing.
  notice_problems=()
  crash_start 59 1 close
  grep -qx "NOTICE Программа обновления завершилась аварийно и записала отчёт о сбое:" "$work/crash.out" &&
    grep -qxF "NOTICE $last_report" "$work/crash.out" ||
    notice_problems+=("the start after the crash did not tell of $last_report")
  grep -qx "EXIT 0" "$work/crash.out" || notice_problems+=("the window did not close with 0")
  crash_start 59 0 close
  grep -q "^NOTICE" "$work/crash.out" && notice_problems+=("a second start told of the report again")
  if [ -n "$last_report" ] && [ ${#notice_problems[@]} -eq 0 ]; then
    echo "ok   the start after a crash tells where the report is, once"
    passes=$((passes + 1))
  else
    echo "FAIL the start after a crash"
    printf '     %s\n' "${notice_problems[@]}"
    sed 's/^/       /' "$work/crash.out"
    failures=$((failures + 1))
  fi
  # The prefix is shared with the other suites: their windows meet no report of these.
  [ -n "$crash_folder" ] && rm -f "$crash_folder"/ZV8810_FWU-crash-* "$crash_folder/seen"
fi

echo "wine-window-e2e: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
