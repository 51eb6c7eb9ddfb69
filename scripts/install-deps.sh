#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing (through sudo when not
# root). Usage: scripts/install-deps.sh [PACKAGE...]: the build's packages plus any named.
set -euo pipefail

# fonts-wine: the window's Tahoma-metric font; fonts-dejavu-extra: the bold face of its captions
# (DejaVu Sans Condensed Bold, with Tahoma Bold's metrics); qt6-translations-l10n: Qt's own
# dialogs in Russian; libsqlite3-dev and libpq-dev: the history of jobs (a local file, a plant's server).
packages=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev libunicorn-dev
          qt6-base-dev fonts-dejavu-core fonts-dejavu-extra fonts-wine qt6-translations-l10n
          libsqlite3-dev libpq-dev
          "$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}"
