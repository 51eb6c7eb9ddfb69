#!/usr/bin/env bash
# Every test: builds and runs the suites in the dev preset, then the Windows build (mingw preset)
# with its suites and the command line's end-to-end runs under Wine, then the unit and
# end-to-end suites under AddressSanitizer with UndefinedBehaviorSanitizer, and under
# ThreadSanitizer; the native presets each end with a short soak; then every fuzz target
# briefly (scripts/fuzz.sh, about 20 s a target).
set -euo pipefail
cd "$(dirname "$0")/.."

# The cross compiler lets the tests rebuild the resident and compare it with the committed image.
# mingw-w64, Wine and Xvfb (Wine's first start wants a display) build and run the Windows
# programs; socat wires two of Wine's COM ports together; NSIS makes the Windows installer;
# openbox frames the Windows window's pictures and xdotool works it with the mouse; postgresql:
# the history tests start a throw-away server of their own.
scripts/install-deps.sh gcc-arm-none-eabi binutils-arm-none-eabi \
  g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth socat nsis openbox xdotool postgresql

# The soak's seeds in each native preset: random programming jobs, each judged (tests/soak.cpp),
# and how many run at once (a job mostly waits for the line; the sanitizers' builds cost more).
declare -A soak_seeds=([dev]=40 [asan]=6 [tsan]=6)
declare -A soak_jobs=([dev]=4 [asan]=2 [tsan]=2)
for preset in dev mingw asan tsan; do
  echo "==== $preset"
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = mingw ]; then
    # The Windows window's tests need a display, and every Wine program of the run must see the
    # same one (the prefix's desktop process keeps the display it started with).
    xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset "$preset"
    # The Windows window's pictures in both languages, on a display of their own with a window
    # manager (into the build tree; docs/images holds the committed ones). The prefix's Wine
    # processes of the tests end first: its desktop keeps the display it started with.
    WINEPREFIX="$PWD/build/mingw/wineprefix" wineserver -k 2>/dev/null || true
    WINEPREFIX="$PWD/build/mingw/wineprefix" wineserver -w 2>/dev/null || true
    scripts/win32-screenshots.sh build/mingw/shots
  else
    ctest --preset "$preset"
  fi
  if [ -n "${soak_seeds[$preset]:-}" ]; then
    "build/$preset/tests/zv8810-soak" --seeds "${soak_seeds[$preset]}" \
      --jobs "${soak_jobs[$preset]}"
  fi
  echo "==== $preset took $((SECONDS - start)) s"
done

echo "==== fuzz"
start=$SECONDS
scripts/fuzz.sh 20
echo "==== fuzz took $((SECONDS - start)) s"
