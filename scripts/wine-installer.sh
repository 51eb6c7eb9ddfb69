#!/usr/bin/env bash
# The Windows installer under Wine: installs it silently, checks what it put where (both programs
# and the README under Program Files, the Start-menu entry, the uninstaller and its entry in the
# registry), starts the installed window with zv8810-window-driver.exe (it must come up and keep
# its settings between two starts), then uninstalls silently and checks that nothing is left.
#
#   scripts/wine-installer.sh WINDOWS_BUILD
#
# WINDOWS_BUILD is the mingw preset's tree: its packages/ holds the installer (the packages test
# makes it) and its wineprefix is used.
set -uo pipefail
# The window needs a display: without one, this runs on a virtual one (its Wine processes must
# all see the same display, so a whole ctest run is better started under xvfb-run -a).
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a "$0" "$@"
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
installer="$(ls "$build"/packages/*-win64.exe 2>/dev/null | head -1)"
driver="$build/zv8810-window-driver.exe"
[ -f "$installer" ] || { echo "wine-installer: no installer in $build/packages (run the packages test first)" >&2; exit 1; }
[ -f "$driver" ] || { echo "wine-installer: $driver is missing" >&2; exit 1; }
export ZV_WINEPREFIX="$build/wineprefix"
export WINEPREFIX="$ZV_WINEPREFIX" WINEDEBUG=-all
wine_run=("$root/scripts/wine-run.sh" --prefix "$ZV_WINEPREFIX")
"${wine_run[@]}" cmd /c exit 0 >/dev/null 2>&1 || true  # makes the prefix on the first run

name="ZV-8810 Firmware Updater"
folder="$ZV_WINEPREFIX/drive_c/Program Files/$name"
win_folder="C:\\Program Files\\$name"
menus=("$ZV_WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$name"
       "$ZV_WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/$name")
uninstall_key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name"
vendor_key="HKLM\\Software\\ORMEK\\$name"

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
key_exists() { "${wine_run[@]}" reg query "$1" >/dev/null 2>&1; }
no_key() { ! key_exists "$1"; }
menu_link() { find "${menus[@]}" -name "$name.lnk" 2>/dev/null | head -1; }
has_menu_link() { [ -n "$(menu_link)" ]; }
no_menu_folder() { for m in "${menus[@]}"; do [ ! -e "$m" ] || return 1; done; }
# The uninstaller copies itself away and returns at once: its copy removes the folder.
gone_within() {  # gone_within SECONDS PATH
  local end=$((SECONDS + $1))
  while [ -e "$2" ] && [ $SECONDS -lt $end ]; do sleep 0.5; done
  [ ! -e "$2" ]
}

# What an earlier, broken run may have left.
rm -rf "$folder" "${menus[@]}"

start=$SECONDS
"${wine_run[@]}" "$installer" /S >/dev/null 2>&1
echo "     (installed in $((SECONDS - start)) s)"
for f in ZV8810_FWU.exe zv8810-fwu.exe README.md Uninstall.exe; do
  check "the installer puts $f in Program Files\\$name" test -f "$folder/$f"
done
check "the Start menu has \"$name\"" has_menu_link
check "Apps and Features lists it (its uninstall key)" key_exists "$uninstall_key"
check "the installed command line runs (--version)" \
  bash -c '"$@" 2>&1 | grep -q "2\.3\.0\.1"' _ "${wine_run[@]}" "$folder/zv8810-fwu.exe" --version

# An installed program keeps its settings in the user's folder, never under Program Files.
settings="$ZV_WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/ZV8810 Firmware Updater"
rm -rf "$settings"
"${wine_run[@]}" "$driver" keeps-settings "$win_folder\\ZV8810_FWU.exe" \
  '%APPDATA%\ZV8810 Firmware Updater\ZV8810_FWU.ini' | tr -d '\r' >"$build/window-driver.log" 2>&1
sed 's/^/     /' "$build/window-driver.log"
check "the installed window comes up and keeps its settings" \
  bash -c '! grep -q "^FAIL" "$1" && grep -q "0 failed" "$1"' _ "$build/window-driver.log"
check "its settings file is in the user's folder" test -f "$settings/ZV8810_FWU.ini"
check "and not beside the program" test ! -e "$folder/ZV8810_FWU.ini"

start=$SECONDS
"${wine_run[@]}" "$folder/Uninstall.exe" /S >/dev/null 2>&1
check "the uninstaller removes the program's folder" gone_within 60 "$folder"
echo "     (uninstalled in $((SECONDS - start)) s)"
check "the Start-menu entry is gone" no_menu_folder
check "the uninstall key is gone" no_key "$uninstall_key"
check "the vendor's key is gone" no_key "$vendor_key"
check "the window's settings are gone" test ! -e "$settings"

echo "wine-installer: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
