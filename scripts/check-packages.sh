#!/usr/bin/env bash
# Builds the packages of a build tree with CPack and checks what they hold: the .deb of a Linux
# tree (files, dependencies, the dialout note), the .zip of the mingw tree (zv8810-fwu.exe and
# the README, no DLL). Usage: scripts/check-packages.sh BUILD_DIR
set -uo pipefail
build="$(cd "$1" && pwd)"
out="$build/packages"
rm -rf "$out"
if ! cpack --config "$build/CPackConfig.cmake" -B "$out" >"$build/cpack.log" 2>&1; then
  echo "cpack failed:"; cat "$build/cpack.log"; exit 1
fi

failures=0
passes=0
check() {  # check DESCRIPTION COMMAND...
  local what="$1"
  shift
  if "$@"; then
    echo "ok   $what"; passes=$((passes + 1))
  else
    echo "FAIL $what"; failures=$((failures + 1))
  fi
}
has_line() { grep -qxF -- "$2" <<<"$1"; }
has_match() { grep -qE -- "$2" <<<"$1"; }

if [ -x "$build/cli/zv8810-fwu.exe" ]; then
  zip="$(ls "$out"/*.zip 2>/dev/null | head -1)"
  check "a .zip was made" test -f "$zip"
  list="$(cmake -E tar tf "$zip" 2>/dev/null | sed 's#^[^/]*/##' | grep -v '/$' | grep -v '^$' | LC_ALL=C sort)"
  check "the .zip holds ZV8810_FWU.exe, zv8810-fwu.exe and README.md, and nothing else" \
    test "$list" = "$(printf 'README.md\nZV8810_FWU.exe\nzv8810-fwu.exe')"
  mkdir -p "$out/unpacked" && (cd "$out/unpacked" && cmake -E tar xf "$zip")
  # Each program stands alone: the system's DLLs only (the window adds the common controls, the
  # common dialogs, GDI, the shell and COM for its dialogs).
  system_dlls='kernel32.dll|advapi32.dll|msvcrt.dll|version.dll|user32.dll|gdi32.dll|comctl32.dll|comdlg32.dll|shell32.dll|ole32.dll'
  for program in zv8810-fwu.exe ZV8810_FWU.exe; do
    exe="$(find "$out/unpacked" -name "$program" | head -1)"
    imports="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort)"
    check "$program needs only system DLLs ($(echo $imports))" \
      test -n "$imports" -a -z "$(grep -vxE "$system_dlls" <<<"$imports")"
  done
  window="$(find "$out/unpacked" -name ZV8810_FWU.exe | head -1)"
  check "ZV8810_FWU.exe is a windowed program (subsystem 2)" \
    grep -qE '^Subsystem[[:space:]]+0*2[[:space:]]' <(x86_64-w64-mingw32-objdump -p "$window")
  check "ZV8810_FWU.exe carries its manifest (common controls 6, per-monitor DPI aware)" \
    bash -c 'grep -aq "Microsoft.Windows.Common-Controls" "$1" && grep -aq "PerMonitorV2" "$1"' _ "$window"
  installer="$(ls "$out"/*-win64.exe 2>/dev/null | head -1)"
  check "an installer was made ($(basename "${installer:-none}"))" test -f "$installer"
  check "the installer is a Windows program" test "$(head -c 2 "$installer" 2>/dev/null)" = MZ
else
  deb="$(ls "$out"/*.deb 2>/dev/null | head -1)"
  check "a .deb was made" test -f "$deb"
  files="$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#')"
  for f in /usr/bin/zv8810-fwu /usr/bin/zv8810-sim /usr/share/doc/zv8810-fwu/README.md; do
    check "the .deb holds $f" has_line "$files" "$f"
  done
  if grep -q '^Qt6_FOUND' "$build/CMakeCache.txt" 2>/dev/null || [ -x "$build/ui/ZV8810_FWU" ]; then
    for f in /usr/bin/ZV8810_FWU /usr/share/applications/zv8810-fwu.desktop \
             /usr/share/icons/hicolor/64x64/apps/zv8810-fwu.png; do
      check "the .deb holds $f" has_line "$files" "$f"
    done
  fi
  fields="$(dpkg-deb -f "$deb")"
  check "package name and version" has_match "$fields" '^Package: zv8810-fwu$'
  check "version 2.3.0.1" has_match "$fields" '^Version: 2\.3\.0\.1$'
  depends="$(dpkg-deb -f "$deb" Depends)"
  for lib in libc6 libstdc\\+\\+6 libunicorn2 libsqlite3-0 libpq5; do
    check "depends on ${lib//\\/}" has_match "$depends" "(^|, )$lib( |,|$)"
  done
  if [ -x "$build/ui/ZV8810_FWU" ]; then
    check "depends on Qt 6 Widgets" has_match "$depends" "(^|, )libqt6widgets6"
  fi
  check "the description tells about the dialout group" has_match "$fields" 'dialout'
  dpkg-deb -e "$deb" "$out/control"
  check "postinst prints the dialout note" grep -q 'usermod -aG dialout' "$out/control/postinst"
  check "postrm removes a settings file an earlier version left in /usr/bin" \
    grep -q 'rm -f /usr/bin/ZV8810_FWU.ini' "$out/control/postrm"
fi

echo "check-packages: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
