#!/usr/bin/env bash
# Opens the window against the simulated receiver: starts zv8810-sim as COM7 (NMEA, 115200) and
# the window with its settings preset to it and to a generated sample system file. Without a
# display it runs under Xvfb (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev

bin=build/dev
work=$(mktemp -d)
export XDG_DATA_HOME=$work
"$bin/device/zv8810-mkfw" "$work/firmware.bin" --size 204800 --version 3.08 --date "Dec 10 2026"
coproc SIM { exec "$bin/device/zv8810-sim" --com COM7 --flash "$work/flash.img" 2>/dev/null; }
sim_pid=$SIM_PID
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$work"' EXIT
read -r _ device <&"${SIM[0]}"
echo "zv8810-sim is $device, registered as COM7; the window's settings point at it"
printf 'ComPort=COM7\r\nComRate=115200\r\nSystemFile=%s\r\nProtocol=NMEA\r\nResetType=0\r\nLang=%s\r\n' \
  "$work/firmware.bin" "${ZV_LANG:-0}" > "$bin/ui/ZV8810_FWU.ini"
if [ -n "${DISPLAY:-}" ]; then
  "$bin/ui/ZV8810_FWU"
else
  scripts/install-deps.sh xvfb xauth openbox
  xvfb-run -a bash -c 'openbox >/dev/null 2>&1 & exec "$0"' "$bin/ui/ZV8810_FWU"
fi
