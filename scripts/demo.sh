#!/usr/bin/env bash
# The main job against the simulated receiver: builds, starts zv8810-sim, and runs a whole job
# as the window's buttons do, with reset "Auto" over NMEA: "Programming" with a generated
# sample system file, then "Versions Info". Ends with the success message and the versions read
# back, and checks that the receiver's flash holds exactly the file's image.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev

bin=build/dev
work=$(mktemp -d)
# The simulator registers its COM name in a private alias folder, leaving the user's alone.
export XDG_DATA_HOME=$work
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/device/zv8810-mkfw" "$work/firmware.bin" --size 204800 --version 3.08 --date "Dec 10 2026" \
  --comment "demo build"
echo "== the system file"
"$bin/cli/zv8810-fwu" describe "$work/firmware.bin"

coproc SIM { exec "$bin/device/zv8810-sim" --com COM7 --flash "$work/flash.img" 2>/dev/null; }
sim_pid=$SIM_PID
read -r _ device <&"${SIM[0]}"
echo "== zv8810-sim (NMEA, 115200 bit/s) is $device, registered as COM7"
"$bin/cli/zv8810-fwu" ports

echo "== Programming"
"$bin/cli/zv8810-fwu" program --port COM7 --reset auto --protocol nmea --baud 115200 \
  --file "$work/firmware.bin"
echo "== Versions Info"
"$bin/cli/zv8810-fwu" versions --port COM7 --reset auto --protocol nmea --baud 115200

kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=""
size=$(stat -c %s "$work/firmware.bin")
header_size=$(od -An -tu4 -j $((0x10000)) -N 4 "$work/flash.img" | tr -d ' ')
if [ "$header_size" = "$size" ] &&
   cmp -s -n "$size" -i $((0x10008)):0 "$work/flash.img" "$work/firmware.bin"; then
  echo "== the receiver's flash holds the file's image at 0x01010000: yes"
else
  echo "== the receiver's flash holds the file's image at 0x01010000: NO"
  exit 1
fi
