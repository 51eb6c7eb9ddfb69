#!/usr/bin/env bash
# Pictures of the Windows window (ZV8810_FWU.exe under Wine, on Xvfb with the openbox window
# manager) against zv8810-sim registered as COM7, in English and Russian: idle, the port list
# open (with the chosen port's tooltip), the diagnosis's offer after the wrong protocol, after a
# programming run, a port that is gone, and the About window. They are taken by
# zv8810-window-driver.exe and saved as PNG files named win32-*-en.png and win32-*-ru.png.
#
#   scripts/win32-screenshots.sh [OUTDIR]     (default docs/images, beside the Linux window's)
#
# Needs the mingw and dev presets built (the window and the driver; the simulator). Fails when a
# picture could not be taken. Without python3 the pictures stay 24-bit bitmaps (.bmp).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(mkdir -p "${1:-$root/docs/images}" && cd "${1:-$root/docs/images}" && pwd)"
win_build="$root/build/mingw"
linux_build="$root/build/dev"
if [ -z "${DISPLAY:-}" ] || [ -z "${ZV_WM_STARTED:-}" ]; then
  command -v openbox >/dev/null || "$root/scripts/install-deps.sh" openbox
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    openbox >/dev/null 2>&1 & wm=$!
    sleep 1
    ZV_WM_STARTED=1 "$0" "$@"; status=$?
    kill $wm
    exit $status' "$0" "$out"
fi
export ZV_WINEPREFIX="$win_build/wineprefix"
export WINEPREFIX="$ZV_WINEPREFIX" WINEDEBUG=-all
wine_run=("$root/scripts/wine-run.sh" --prefix "$ZV_WINEPREFIX")
"${wine_run[@]}" cmd /c exit 0 >/dev/null 2>&1 || true
dosdevices="$ZV_WINEPREFIX/dosdevices"

work="$(mktemp -d /tmp/zv8810-win32-shots.XXXXXX)"
export XDG_DATA_HOME="$work/xdg"
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -f "$dosdevices/com7"
  "${wine_run[@]}" reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v 'ZV8810Sim' /f >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
"$linux_build/device/zv8810-mkfw" "$work/firmware.bin" --size 40000 --version 3.08 \
  --date "Dec 10 2026" >/dev/null
win_work="$(winepath -w "$work" 2>/dev/null)"
cp "$win_build/ui/win32/ZV8810_FWU.exe" "$work/"

status=0
for lang in en ru; do
  coproc SIM { exec "$linux_build/device/zv8810-sim" --com COM7 --flash "$work/flash.img" 2>/dev/null; }
  sim_pid=$SIM_PID
  read -r _ device <&"${SIM[0]}"
  ln -sfn "$device" "$dosdevices/com7"
  # The port list is read from the registry, where Wine names only the ports it found at its
  # start: COM7 is added by hand.
  "${wine_run[@]}" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v 'ZV8810Sim' /t REG_SZ \
    /d COM7 /f >/dev/null 2>&1
  printf 'ComPort=COM7\r\nComRate=115200\r\nSystemFile=%s\\firmware.bin\r\nProtocol=NMEA\r\nResetType=0\r\nLang=%s\r\n' \
    "$win_work" "$([ $lang = ru ] && echo 1 || echo 0)" >"$work/ZV8810_FWU.ini"
  rm -f "$work/go" "$work/driver.out"
  mkfifo "$work/go"
  "${wine_run[@]}" "$win_build/zv8810-window-driver.exe" pictures "$win_work\\ZV8810_FWU.exe" \
    "$win_work" "$lang" <"$work/go" >"$work/driver.out" 2>&1 &
  driver=$!
  exec 8>"$work/go"
  for _ in $(seq 3000); do grep -q '^PULL' "$work/driver.out" && break; kill -0 $driver 2>/dev/null || break; sleep 0.1; done
  kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""
  rm -f "$dosdevices/com7"
  echo go >&8
  exec 8>&-
  wait $driver || status=1
  tr -d '\r' <"$work/driver.out" | grep -v '^PULL' | sed "s/^/$lang: /"
  for shot in main-idle main-port-list main-diagnosis main-after-run main-port-missing about; do
    if [ -f "$work/$shot-$lang.bmp" ]; then
      if command -v python3 >/dev/null; then
        python3 "$root/scripts/bmp-to-png.py" "$work/$shot-$lang.bmp" "$out/win32-$shot-$lang.png"
        echo "$out/win32-$shot-$lang.png"
      else
        cp "$work/$shot-$lang.bmp" "$out/win32-$shot-$lang.bmp"
        echo "$out/win32-$shot-$lang.bmp"
      fi
    else
      echo "FAIL no picture $shot-$lang" && status=1
    fi
  done
done
exit $status
