#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12: the Debian packages
# (only those missing) and the pinned npm packages from package-lock.json.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config git clang libclang-rt-14-dev
  qt6-base-dev qt6-webengine-dev qt6-webchannel-dev libqt6webenginecore6-bin qt6-svg-dev
  libgl-dev libglx-dev libopengl-dev libxrandr-dev libxtst-dev libxss-dev libx11-dev zlib1g-dev
  libgtest-dev libgmock-dev
  haxe nodejs npm
  xvfb openbox xdotool x11-utils x11-xserver-utils imagemagick
  python3 procps fonts-dejavu-core desktop-file-utils appstream
  pulseaudio pulseaudio-utils
  # the tests' private session bus (dbus-daemon) and asking it (dbus-send)
  dbus-daemon dbus-bin
  dpkg-dev lintian file   # the Debian package (scripts/package.sh) and its test
  # The desktops of the end-to-end desktop matrix (tests/e2e/desktops.py)
  xfwm4 xfce4-panel tint2 kwin-x11 kwin-style-breeze mutter weston xwayland
  xserver-xorg-video-dummy dbus-x11
  # Qt's Wayland platform, so that on the matrix's Wayland desktops Qt really has it to choose
  qt6-wayland
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# node and npm may come from elsewhere than Debian's packages; accept them when present.
if command -v node >/dev/null && command -v npm >/dev/null; then
  filtered=()
  for p in "${missing[@]}"; do [[ $p == nodejs || $p == npm ]] || filtered+=("$p"); done
  missing=("${filtered[@]+"${filtered[@]}"}")
fi
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The movie player, pinned by package-lock.json.
stamp=node_modules/.lanternfall-lock
if [[ ! -f $stamp ]] || ! cmp -s package-lock.json "$stamp"; then
  npm ci --no-audit --no-fund
  cp package-lock.json "$stamp"
fi
