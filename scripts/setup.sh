#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Vesperon needs.
# Idempotent: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libasound2-dev libpulse-dev libx11-dev libgtest-dev libgmock-dev libebur128-dev
  clang libclang-rt-14-dev
  fonts-wqy-microhei qt6-translations-l10n
  # tests and tools
  xvfb xdotool x11-utils pulseaudio pulseaudio-utils libasound2-plugins alsa-utils
  sox lame twolame mpg123 faketime python3 desktop-file-utils
  dbus-daemon dbus-bin playerctl
  # the Debian package: icons rendered at build time, Depends, and its checkers
  librsvg2-bin dpkg-dev lintian appstream
  # Wayland: the window natively, a headless compositor, and the global-shortcuts portal
  qt6-wayland weston xdg-desktop-portal xdg-desktop-portal-kde libkf5globalaccel-bin
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
