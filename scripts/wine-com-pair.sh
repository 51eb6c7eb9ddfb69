#!/usr/bin/env bash
# Runs a command with two COM ports of the Wine prefix wired to each other: socat joins two
# pseudo-terminals, and the prefix's dosdevices link comA and comB to them. The command learns
# the numbers from ZV_COM_PAIR ("A,B").
#   scripts/wine-com-pair.sh PREFIX A B COMMAND [ARGS...]
set -euo pipefail
prefix="$1" a="$2" b="$3"
shift 3
command -v socat >/dev/null || { echo "wine-com-pair: socat is missing (scripts/install-deps.sh socat)" >&2; exit 2; }
work="$(mktemp -d /tmp/zv8810-compair.XXXXXX)"
socat_pid=""
cleanup() {
  rm -f "$prefix/dosdevices/com$a" "$prefix/dosdevices/com$b"
  if [ -n "$socat_pid" ]; then
    kill "$socat_pid" 2>/dev/null || true
    wait "$socat_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
socat pty,raw,echo=0,link="$work/a" pty,raw,echo=0,link="$work/b" 2>"$work/socat.err" &
socat_pid=$!
for _ in $(seq 100); do
  [ -e "$work/a" ] && [ -e "$work/b" ] && break
  sleep 0.05
done
[ -e "$work/a" ] && [ -e "$work/b" ] || { echo "wine-com-pair: socat made no pair: $(cat "$work/socat.err")" >&2; exit 2; }
mkdir -p "$prefix/dosdevices"
ln -sfn "$(readlink -f "$work/a")" "$prefix/dosdevices/com$a"
ln -sfn "$(readlink -f "$work/b")" "$prefix/dosdevices/com$b"
status=0
ZV_COM_PAIR="$a,$b" "$@" || status=$?
exit $status
