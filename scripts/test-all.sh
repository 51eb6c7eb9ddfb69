#!/usr/bin/env bash
# Every test: builds and runs the suites in the dev preset, then the unit and end-to-end suites
# under AddressSanitizer with UndefinedBehaviorSanitizer, and under ThreadSanitizer; then every
# fuzz target briefly (scripts/fuzz.sh, about 20 s a target).
set -euo pipefail
cd "$(dirname "$0")/.."

# The cross compiler lets the tests rebuild the resident and compare it with the committed image.
scripts/install-deps.sh gcc-arm-none-eabi binutils-arm-none-eabi

for preset in dev asan tsan; do
  echo "==== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "==== fuzz"
scripts/fuzz.sh 20
