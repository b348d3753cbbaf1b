#!/usr/bin/env bash
# Installs what the benchmarks need besides what the project's own setup installs:
# Debian's Chromium (the browser the host is compared with), and valgrind and perf
# (profiling: see bench/README.md).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

packages=(chromium valgrind linux-perf xvfb openbox python3 findutils coreutils)
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
