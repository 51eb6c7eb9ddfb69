#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix, made on first use.
#   scripts/wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]
# The prefix defaults to $ZV_WINEPREFIX, else build/mingw/wineprefix. Its first start
# (wineboot -i) takes a few minutes and needs a display, so it runs under xvfb-run; later runs
# reuse it. Programs run with the prefix's dosdevices as their COM ports (scripts/wine-com.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
prefix="${ZV_WINEPREFIX:-$root/build/mingw/wineprefix}"
if [ "${1:-}" = "--prefix" ]; then
  prefix="$2"
  shift 2
fi
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
# No Mono or Gecko installers: the programs need neither, and they would ask with a window.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

wine_cmd=wine
command -v wine >/dev/null 2>&1 || wine_cmd=wine64

if [ ! -f "$prefix/.zv-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  # One first start at a time: parallel tests wait for it instead of making the prefix twice.
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.zv-ready" ]; then
    echo "wine-run: making the Wine prefix $prefix (a few minutes, once)" >&2
    xvfb-run -a "$wine_cmd" wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
    [ -d "$prefix/drive_c" ] || { echo "wine-run: wineboot made no prefix in $prefix" >&2; exit 1; }
    touch "$prefix/.zv-ready"
  fi
  flock -u 9
  exec 9>&-
fi

# A wineserver of our own for the prefix, kept 30 s after its last client so that a series of
# runs shares it, with its output (it may print its object table) kept off the programs' output.
wineserver -p30 </dev/null >/dev/null 2>&1 || true

exec "$wine_cmd" "$@"
