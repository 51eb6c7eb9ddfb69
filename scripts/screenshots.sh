#!/usr/bin/env bash
# Shows the windows on a virtual display (Xvfb with the openbox window manager) against
# zv8810-sim registered as COM7 and saves what the operator sees to PNG files in docs/images/:
# the main window in English and Russian, idle, with its lists open, after a programming run,
# the failure and diagnosis boxes, and the About window. It fails when a caption or the About
# window's centring is wrong on the real display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh xvfb xauth xdotool openbox
cmake --preset dev >/dev/null
cmake --build --preset dev --target zv8810-shots zv8810-sim zv8810-mkfw

bin=build/dev
work=$(mktemp -d)
export XDG_DATA_HOME=$work QT_QPA_PLATFORM=xcb
"$bin/device/zv8810-mkfw" "$work/firmware.bin" --size 40000 --version 3.08 --date "Dec 10 2026"
coproc SIM { exec "$bin/device/zv8810-sim" --com COM7 --flash "$work/flash.img" 2>/dev/null; }
sim_pid=$SIM_PID
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$work"' EXIT
read -r _ _ <&"${SIM[0]}"
mkdir -p docs/images
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  openbox >/dev/null 2>&1 & wm=$!
  sleep 1
  "$0/ui/zv8810-shots" docs/images "$1"; status=$?
  kill $wm
  exit $status' "$bin" "$work/firmware.bin"
