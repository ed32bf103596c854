#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the program
# need, but only when something is missing, so a second run costs nothing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkgconf
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools
  libqt6opengl6-dev libgl-dev
  libgtest-dev libgmock-dev
  qt6-translations-l10n
  xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick
  fonts-dejavu-core fonts-wqy-microhei fp-utils python3 python3-xlib
  librsvg2-bin desktop-file-utils appstream dpkg-dev xdg-utils
  ser2net socat iproute2
  python3-pyvisa python3-pyvisa-py python3-pymeasure
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
