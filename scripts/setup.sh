#!/usr/bin/env bash
# Installs what is missing, from the running Debian release's own packages, and the
# pinned npm packages from package-lock.json.
#   scripts/setup.sh           what building and running the game need (scripts/run.sh); without
#                              a DISPLAY also the private Xvfb and openbox run.sh then starts
#   scripts/setup.sh --package that and what making the packages needs (scripts/package.sh)
#   scripts/setup.sh --tests   all that and what the tests need (scripts/test.sh)
# No package name is tied to one release: where releases differ (clang's runtime), apt is asked
# what the running release offers.
set -euo pipefail
cd "$(dirname "$0")/.."

tests=0 package=0
case ${1:-} in
  --tests) tests=1 package=1 ;;
  --package) package=1 ;;
  "") ;;
  *) echo "usage: scripts/setup.sh [--package|--tests]" >&2; exit 2 ;;
esac

# Building and running: the compiler, Qt 6 with WebEngine and WebChannel, the X11 and OpenGL
# libraries the host links, Haxe for the demo movie, npm for the movie player, the page's font.
packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-webengine-dev qt6-webchannel-dev libqt6webenginecore6-bin qt6-svg-dev
  libgl-dev libglx-dev libopengl-dev libxrandr-dev libxtst-dev libxss-dev libx11-dev zlib1g-dev
  haxe nodejs npm fonts-dejavu-core
)
# scripts/run.sh without a display: a private Xvfb with openbox, xrandr and xprop.
if ((tests)) || [[ -z ${DISPLAY:-} ]]; then
  packages+=(xvfb openbox x11-xserver-utils x11-utils)
fi
# CPack's Debian package: dpkg-shlibdeps computes the dependencies, file finds the binaries.
if ((package)); then
  packages+=(dpkg-dev file)
fi
if ((tests)); then
  packages+=(
    git libgtest-dev libgmock-dev python3 procps
    xdotool imagemagick desktop-file-utils appstream
    # the sound test's private sound server and its recorder
    pulseaudio pulseaudio-utils
    # the tests' private session bus (dbus-daemon) and asking it (dbus-send)
    dbus-daemon dbus-bin
    lintian   # the Debian package's test
    # The desktops of the end-to-end desktop matrix (tests/e2e/desktops.py)
    xfwm4 xfce4-panel tint2 kwin-x11 kwin-style-breeze mutter weston xwayland kwin-wayland
    xserver-xorg-video-dummy dbus-x11
    # Qt's Wayland platform, so that on the matrix's Wayland desktops Qt really has it to choose
    qt6-wayland
    # the command fuzzer (fuzz/): clang; its libFuzzer runtime is added below
    clang
  )
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# clang's libFuzzer and sanitizer runtime is a package of clang's own version
# (libclang-rt-14-dev on Debian 12, libclang-rt-19-dev on Debian 13). Asked of apt: the
# compiler the release's "clang" depends on, that compiler's common headers, and the runtime
# those recommend. Needs the package lists (apt-get update).
clang_runtime() {
  local compiler common
  compiler=$(apt-cache depends clang 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^clang-[0-9.]+$/ { print $2; exit }')
  [[ -n $compiler ]] || return 0
  common=$(apt-cache depends "$compiler" 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^libclang-common-/ { print $2; exit }')
  { apt-cache depends "$compiler"; [[ -z $common ]] || apt-cache depends "$common"; } 2>/dev/null |
    awk '($1 == "Depends:" || $1 == "Recommends:") && $2 ~ /^libclang-rt-.*-dev$/ { print $2; exit }'
}

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
# node and npm may come from elsewhere than Debian's packages; accept them when present.
if command -v node >/dev/null && command -v npm >/dev/null; then
  filtered=()
  for p in "${missing[@]+"${missing[@]}"}"; do [[ $p == nodejs || $p == npm ]] || filtered+=("$p"); done
  missing=("${filtered[@]+"${filtered[@]}"}")
fi

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
updated=0
apt_update() {
  ((updated)) && return 0
  "${sudo_cmd[@]}" apt-get update -q
  updated=1
}
if ((tests)); then
  runtime=$(clang_runtime)
  if [[ -z $runtime ]]; then
    # Fresh package lists may know what stale ones do not.
    apt_update
    runtime=$(clang_runtime)
  fi
  if [[ -n $runtime ]]; then
    installed "$runtime" || missing+=("$runtime")
  else
    echo "setup: apt names no libFuzzer runtime for this release's clang;" \
      "the fuzz test will be skipped" >&2
  fi
fi
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  apt_update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The movie player, pinned by package-lock.json.
stamp=node_modules/.lanternfall-lock
if [[ ! -f $stamp ]] || ! cmp -s package-lock.json "$stamp"; then
  npm ci --no-audit --no-fund
  cp package-lock.json "$stamp"
fi
