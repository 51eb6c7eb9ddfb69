#!/usr/bin/env bash
# An operator's programming run worked with the mouse alone: ZV8810_FWU.exe under Wine, on a
# display of its own (Xvfb with the openbox window manager), against zv8810-sim registered as
# COM5; xdotool moves the pointer and clicks, at places found from the windows' geometry. No
# key is pressed and no message is sent to the window. In English, then in Russian:
#
#   1. the port box is clicked open and COM5 clicked in its list;
#   2. "..." opens the file dialog, where a double click on firmware.bin chooses the file;
#   3. "Programming" is clicked; the final message box must read "Execution is successfully
#      completed" with the versions read back (zv8810-window-driver.exe reads its texts as they
#      stand, and sends it nothing else), and its "OK" is clicked;
#   4. a right click on the log list opens its menu, "Save As..." is clicked, then "Save" in the
#      save dialog (the name it offers, in the documents folder): the saved log must be the
#      expected one: COM5, firmware.bin, every stage "done", both versions;
#   5. the close button of the window's title bar ends the program (status 0).
#
#   scripts/wine-window-mouse.sh WINDOWS_BUILD LINUX_BUILD [PICTURES]
#
# WINDOWS_BUILD is the mingw preset's tree (its wineprefix is used), LINUX_BUILD one with
# zv8810-sim and zv8810-mkfw (the dev preset's). PICTURES: a folder where the final state of each
# run (the window with its message box) is saved as win32-mouse-done-en.png and -ru.png. A failed
# step saves a picture of the window, with the dialog or box over it, as
# WINDOWS_BUILD/wine-window-mouse-failed-LANG.png (.bmp without python3). The prefix's Wine processes are ended first: the prefix's desktop keeps the
# display it started with (ctest runs this test alone).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ -z "${ZV_MOUSE_DISPLAY:-}" ]; then
  for tool in xdotool openbox xvfb-run; do
    if ! command -v "$tool" >/dev/null; then
      echo "wine-window-mouse: $tool is missing (scripts/install-deps.sh xdotool openbox xvfb)" >&2
      exit 77  # ctest counts the test as skipped
    fi
  done
  # A display of its own: the pointer is moved and clicked, which must never reach a desktop.
  # shellcheck disable=SC2016
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    openbox >/dev/null 2>&1 & wm=$!
    sleep 1
    ZV_MOUSE_DISPLAY=1 "$0" "$@"; status=$?
    kill $wm 2>/dev/null
    exit $status' "$0" "$@"
fi
win_build="$(cd "$1" && pwd)"
linux_build="$(cd "$2" && pwd)"
pictures=""
if [ -n "${3:-}" ]; then
  pictures="$(mkdir -p "$3" && cd "$3" && pwd)"
fi
window="$win_build/ui/win32/ZV8810_FWU.exe"
driver="$win_build/zv8810-window-driver.exe"
sim="$linux_build/device/zv8810-sim"
mkfw="$linux_build/device/zv8810-mkfw"
for program in "$window" "$driver" "$sim" "$mkfw"; do
  if [ ! -f "$program" ]; then
    echo "wine-window-mouse: $program is missing: build the mingw and dev presets first" >&2
    exit 77
  fi
done
export ZV_WINEPREFIX="$win_build/wineprefix"
export WINEPREFIX="$ZV_WINEPREFIX" WINEDEBUG=-all
wine_run=("$root/scripts/wine-run.sh" --prefix "$ZV_WINEPREFIX")
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
dosdevices="$ZV_WINEPREFIX/dosdevices"

work="$(mktemp -d /tmp/zv8810-window-mouse.XXXXXX)"
app="$work/app"  # the program's folder: the file dialog opens here and lists firmware.bin alone
mkdir -p "$app"
export XDG_DATA_HOME="$work/xdg"  # the simulator's COM alias stays private to this run
sim_pid=""
window_pid=""
saved=""
cleanup() {
  [ -n "$window_pid" ] && kill "$window_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -f "$dosdevices/com5"
  [ -n "$saved" ] && rm -f "$saved"
  "${wine_run[@]}" reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v ZV8810Mouse /f >/dev/null 2>&1
  # The tests that follow start their own Wine processes on their display.
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$mkfw" "$app/firmware.bin" --size 20000 --version 3.08 --date "Dec 10 2026" >/dev/null
cp "$window" "$app/ZV8810_FWU.exe"
win_work="Z:${work//\//\\}"

# The port list is read from the registry, where Wine names only the ports it found when the
# prefix was made: COM5 is added (the first Wine program makes the prefix when there is none).
# COM5's row in the list: the window sorts the ports by number.
"${wine_run[@]}" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v ZV8810Mouse /t REG_SZ /d COM5 \
  /f >/dev/null 2>&1
port_row="$("${wine_run[@]}" reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null |
  tr -d '\r' | awk '/REG_SZ/ { n = toupper($NF) ~ /^COM[0-9]+$/ ? substr($NF, 4) + 0 : 0
                               if (n < 5) rows++ } END { print rows + 0 }')"

# "Save As..." offers the documents folder: the saved log is looked for there, and removed.
documents="$(readlink -f "$ZV_WINEPREFIX/drive_c/users/$(id -un)/Documents")"
if [ ! -d "$documents" ]; then
  echo "wine-window-mouse: the prefix has no documents folder for $(id -un) ($documents)" >&2
  exit 1
fi

# The window's places at 96 DPI, in its area (ui/win32/MainWindow.cpp): the centres of the port
# box, "...", "Programming" and the log list.
main_width=516 main_height=303
port_box=(161 31)
browse=(484 162)
programming=(115 206)
log_list=(257 264)
item_height=16  # a row of the port list

# The program's visible windows (the X windows Wine makes for it), those with a title only with
# "named" (not the lists and menus).
windows() {
  local found
  for found in $(xdotool search --onlyvisible --classname '^zv8810_fwu\.exe$' 2>/dev/null); do
    if [ "${1:-}" != named ] || [ -n "$(xdotool getwindowname "$found" 2>/dev/null)" ]; then
      echo "$found"
    fi
  done | sort
}

# await_new "BEFORE" SECONDS [named]: prints a window that was not among BEFORE.
await_new() {
  local before="$1" tenths=$(($2 * 10)) new
  for _ in $(seq "$tenths"); do
    new="$(comm -13 <(echo "$before") <(windows "${3:-}") | grep . | head -1)"
    [ -n "$new" ] && echo "$new" && return 0
    sleep 0.1
  done
  return 1
}

# await_gone WINDOW SECONDS
await_gone() {
  for _ in $(seq $(($2 * 10))); do
    windows | grep -qx "$1" || return 0
    sleep 0.1
  done
  return 1
}

size() {  # size WINDOW: "WIDTH HEIGHT"
  xdotool getwindowgeometry --shell "$1" | awk -F= '/^WIDTH/ { w = $2 } /^HEIGHT/ { h = $2 }
                                                   END { print w, h }'
}

# click WINDOW X Y [BUTTON] [COUNT]: the pointer moved to X,Y of the window's area, then clicked.
click() {
  xdotool mousemove --window "$1" "$2" "$3" sleep 0.3 click --repeat "${5:-1}" --delay 120 "${4:-1}"
}

picture() {  # picture NAME: the window with the box or dialog over it, as NAME.png (or .bmp)
  "${wine_run[@]}" "$driver" screen "$win_work\\shot.bmp" >/dev/null 2>&1 || return 1
  if command -v python3 >/dev/null; then
    python3 "$root/scripts/bmp-to-png.py" "$work/shot.bmp" "$1.png" && echo "$1.png"
  else
    cp "$work/shot.bmp" "$1.bmp" && echo "$1.bmp"
  fi
}

mask() {
  tr -d '\r' | sed -E -e 's/[0-9]{2}:[0-9]{2}:[0-9]{2}$/TIME/' -e 's/^(FWU ver = )[0-9.]+$/\1VERSION/'
}

failures=0
lang=""
fail() {
  echo "FAIL $lang: $1"
  [ $# -gt 1 ] && printf '%s\n' "${@:2}"
  local shot
  shot="$(picture "$win_build/wine-window-mouse-failed-$lang")" && echo "     the window: $shot"
  failures=$((failures + 1))
}

# run LANG SETTING: one run from the window's start to its end, against the texts expected in
# expected_message[LANG] and expected_log[LANG].
run() {
  lang="$1"
  local setting="$2" main box list dialog menu before width height
  coproc SIM { exec "$sim" --com COM5 --flash "$work/flash-$lang.img" 2>/dev/null; }
  sim_pid=${SIM_PID:?}
  local device
  read -r _ device <&"${SIM[0]}"
  ln -sfn "$device" "$dosdevices/com5"
  # The settings the operator leaves: reset "Auto", NMEA at 115200, the language. No port and
  # no file: those are chosen.
  printf 'ComRate=115200\r\nProtocol=NMEA\r\nResetType=0\r\nLang=%s\r\n' "$setting" \
    >"$app/ZV8810_FWU.ini"
  local logs_before
  logs_before="$(ls "$documents"/log-*.txt 2>/dev/null)"

  "${wine_run[@]}" "$win_work\\app\\ZV8810_FWU.exe" >"$work/window-$lang.out" 2>&1 &
  window_pid=$!
  main="$(await_new "" 60 named)" || { fail "the window did not come up"; return; }
  read -r width height <<<"$(size "$main")"
  if [ "$width $height" != "$main_width $main_height" ]; then
    fail "the window's area is ${width}x$height, not ${main_width}x$main_height (96 DPI): the clicks' places would be wrong"
    return
  fi
  sleep 1  # painted

  # 1. The port box: its list opens below it, COM5 on its row. The first click of a window that
  #    is still starting may be lost: it is given once more.
  before="$(windows)"
  list=""
  for _ in 1 2; do
    click "$main" "${port_box[@]}"
    list="$(await_new "$before" 10)" && break
  done
  [ -n "$list" ] || { fail "the port box's list did not open"; return; }
  read -r width height <<<"$(size "$list")"
  if [ $(((port_row + 1) * item_height)) -gt "$height" ]; then
    fail "COM5 (row $port_row) is below the list's visible rows ($height pixels)"
    return
  fi
  click "$list" $((width / 2)) $((1 + port_row * item_height + item_height / 2))
  await_gone "$list" 10 || { fail "a click on COM5 did not close the port list"; return; }

  # 2. "...": the file dialog opens in the program's folder; firmware.bin is the first item of
  #    its list (the only *.bin there), double-clicked.
  before="$(windows named)"
  click "$main" "${browse[@]}"
  dialog="$(await_new "$before" 20 named)" || { fail "\"...\" opened no file dialog"; return; }
  # A dialog still filling its list misses the double click: it is given again.
  for _ in 1 2 3; do
    sleep 1
    click "$dialog" 150 42 1 2
    await_gone "$dialog" 5 && break
  done
  windows | grep -qx "$dialog" &&
    { fail "a double click on firmware.bin did not close the file dialog"; return; }

  # 3. "Programming", then the final message.
  sleep 0.5
  before="$(windows named)"
  click "$main" "${programming[@]}"
  box="$(await_new "$before" 150 named)" || { fail "no message box after \"Programming\""; return; }
  sleep 0.5
  "${wine_run[@]}" "$driver" message >"$work/message-$lang.out" 2>&1
  local message
  message="$(tr -d '\r' <"$work/message-$lang.out" | grep -E '^(CAPTION|MESSAGE) ')"
  if [ "$message" != "${expected_message[$lang]}" ]; then
    fail "the message box reads otherwise:" \
      "$(diff <(echo "${expected_message[$lang]}") <(echo "$message") | sed 's/^/     /')"
  fi
  [ -n "$pictures" ] && picture "$pictures/win32-mouse-done-$lang"
  read -r width height <<<"$(size "$box")"
  click "$box" $((width / 2)) $((height - 22))  # "OK", alone at the bottom's middle
  await_gone "$box" 10 || { fail "a click on \"OK\" did not close the message box"; return; }

  # 4. The log list's menu, "Save As...", "Save".
  sleep 0.5
  before="$(windows)"
  click "$main" "${log_list[@]}" 3
  menu="$(await_new "$before" 10)" || { fail "a right click on the log list opened no menu"; return; }
  read -r width height <<<"$(size "$menu")"
  before="$(windows named)"
  click "$menu" $((width / 2)) $((height / 2))  # "Save As...", its only item
  dialog="$(await_new "$before" 20 named)" || { fail "\"Save As...\" opened no dialog"; return; }
  read -r width height <<<"$(size "$dialog")"
  for _ in 1 2 3; do
    sleep 1
    click "$dialog" $((width - 60)) $((height - 56))  # "Save", at the bottom right
    await_gone "$dialog" 5 && break
  done
  windows | grep -qx "$dialog" &&
    { fail "a click on \"Save\" did not close the save dialog"; return; }
  for _ in $(seq 100); do
    saved="$(comm -13 <(echo "$logs_before") <(ls "$documents"/log-*.txt 2>/dev/null) | head -1)"
    [ -n "$saved" ] && break
    sleep 0.1
  done
  if [ -z "$saved" ]; then
    fail "no log was saved in $documents"
    return
  fi
  sleep 0.5  # written whole
  local log
  log="$(iconv -f CP1251 -t UTF-8 "$saved" | mask)"
  if [ "$log" != "${expected_log[$lang]}" ]; then
    fail "the saved log differs:" \
      "$(diff <(echo "${expected_log[$lang]}") <(echo "$log") | sed 's/^/     /')"
  fi
  rm -f "$saved"
  saved=""

  # 5. The title bar's close button (openbox's, at the right end above the window's area).
  click "$main" $((main_width - 11)) -11
  local status=0 waited=0
  while kill -0 "$window_pid" 2>/dev/null && [ $waited -lt 200 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$window_pid" 2>/dev/null; then
    fail "a click on the title bar's close button did not end the program"
  else
    wait "$window_pid" || status=$?
    window_pid=""
    [ "$status" = 0 ] || fail "the program ended with status $status"
  fi
}

# One run and what it leaves: the window (after a failed step), the simulator, the COM link.
run_and_end() {
  local start=$SECONDS failed=$failures
  run "$@"
  if [ -n "$window_pid" ]; then
    kill "$window_pid" 2>/dev/null
    wineserver -k 2>/dev/null  # the window itself, with the Wine that started it
    wait "$window_pid" 2>/dev/null
    window_pid=""
  fi
  kill "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=""
  rm -f "$dosdevices/com5"
  [ "$failures" = "$failed" ] &&
    echo "ok   $1: COM5 and firmware.bin chosen, \"Programming\", the message, the saved log ($((SECONDS - start)) s)"
}

declare -A expected_message expected_log
expected_message[en]="CAPTION ZV-8810 Firmware Updater
MESSAGE Execution is successfully completed
MESSAGE Firmware version: 3.08 (10/12/26)
MESSAGE Bootloader version: 03.07 (07/09/09)"
expected_log[en]="Com port = COM5
Reset = auto
Baud rate = 115200
Protocol = NMEA
File = firmware.bin
FWU ver = VERSION
---------------------------------
Execution is started - TIME
  NMEA connecting - done
  Connecting - done
  Initialization - done
  Erasing flash - done
  Programming - done
  Inquiry of the bootloader version - done  .::03.07::07/09/09::.
  Inquiry of the firmware version - done  .::3.08::10/12/26::.
  System restarting - done
Execution is finished - TIME"
expected_message[ru]="CAPTION ZV-8810 Firmware Updater
MESSAGE Выполнение успешно завершено
MESSAGE Firmware version: 3.08 (10/12/26)
MESSAGE Bootloader version: 03.07 (07/09/09)"
expected_log[ru]="Com port = COM5
Reset = auto
Baud rate = 115200
Protocol = NMEA
File = firmware.bin
FWU ver = VERSION
---------------------------------
Начало выполнения - TIME
  Подключение по протоколу NMEA - выполнено
  Ожидание ответа загрузчика - выполнено
  Загрузка резидента - выполнено
  Стирание области памяти - выполнено
  Запись системы - выполнено
  Запрос версии загрузчика - выполнено  .::03.07::07/09/09::.
  Запрос версии системы - выполнено  .::3.08::10/12/26::.
  Запуск системы - выполнено
Выполнение завершено - TIME"

run_and_end en 0
run_and_end ru 1
echo "wine-window-mouse: $failures failed"
[ "$failures" -eq 0 ]
