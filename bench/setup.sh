#!/usr/bin/env bash
# Installs what the benchmarks need besides what the project's own setup installs:
# Debian's Chromium (the browser the host is compared with), valgrind and perf (profiling:
# see bench/README.md), and Qt Quick's WebEngineView for the bare view's variant.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

# qml6-module-qtwebengine and qml6-module-qtqml-workerscript: the bare view's Qt Quick
# variant (bench_echo --quick); GoogleTest: bench_player_list drives the window with the
# unit tests' fakes (scripts/setup.sh installs it only with --tests).
packages=(chromium valgrind linux-perf xvfb openbox python3 findutils coreutils
  qml6-module-qtwebengine qml6-module-qtqml-workerscript libgtest-dev libgmock-dev)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "bench setup: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
