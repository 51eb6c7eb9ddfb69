#!/usr/bin/env bash
# The main job against the simulated receiver: builds, starts zv8810-sim and probes it in NMEA
# and in ZORP, each time sending it into its bootloader.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev

bin=build/dev
# The simulator registers its COM name in a private alias folder, leaving the user's alone.
export XDG_DATA_HOME
XDG_DATA_HOME=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$XDG_DATA_HOME"
}
trap cleanup EXIT

run_sim() {
  [ -n "$sim_pid" ] && kill "$sim_pid" && wait "$sim_pid" 2>/dev/null || true
  coproc SIM { exec "$bin/device/zv8810-sim" --com COM7 "$@" 2>/dev/null; }
  sim_pid=$SIM_PID
  read -r ready device <&"${SIM[0]}"
  echo "== zv8810-sim $* is $device, registered as COM7"
}

run_sim --protocol nmea --baud 115200
"$bin/cli/zv8810-fwu" ports
"$bin/cli/zv8810-fwu" probe --port COM7 --protocol nmea --baud 115200 --restart

run_sim --protocol zorp --baud 38400
"$bin/cli/zv8810-fwu" probe --port COM7 --protocol zorp --baud 38400 --restart
