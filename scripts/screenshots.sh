#!/usr/bin/env bash
# Renders the main window (English and Russian, idle and after a programming run against
# zv8810-sim) and the About window to PNG files in docs/images/, without a screen.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh qt6-base-dev fonts-dejavu-core
cmake --preset dev >/dev/null
cmake --build --preset dev --target zv8810-shots zv8810-sim zv8810-mkfw

bin=build/dev
work=$(mktemp -d)
export XDG_DATA_HOME=$work QT_QPA_PLATFORM=offscreen
"$bin/device/zv8810-mkfw" "$work/firmware.bin" --size 40000 --version 3.08 --date "Dec 10 2026"
coproc SIM { exec "$bin/device/zv8810-sim" --com COM7 2>/dev/null; }
sim_pid=$SIM_PID
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$work"' EXIT
read -r _ _ <&"${SIM[0]}"
mkdir -p docs/images
"$bin/ui/zv8810-shots" docs/images "$work/firmware.bin"
