#!/usr/bin/env bash
# The soak: the host saves and loads a level over and over for a given time, on a private
# Xvfb with openbox, optionally with busy loops beside it. Not part of the test suite.
#
#   bench/soak.sh --minutes 5                 # a quiet machine
#   bench/soak.sh --minutes 5 --load 3        # three busy loops beside it
#   bench/soak.sh --minutes 60 --load 3 --every 300
#
# Options: see `python3 bench/soak.py --help`. Exits 1 when anything failed.
set -euo pipefail
cd "$(dirname "$0")/.."

mkdir -p bench/.build
# The host as the project builds it (configured here when there is no build yet).
if [[ ! -f build/CMakeCache.txt ]]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >bench/.build/soak-build.log
fi
cmake --build build -j2 --target lanternfall >>bench/.build/soak-build.log 2>&1 ||
  { tail -n 40 bench/.build/soak-build.log >&2; exit 1; }
haxe -cp bench/movies -main Soak -swf bench/.build/soak.swf -swf-version 11.2 \
  -swf-header 800:600:30:102030

exec python3 bench/soak.py "$@"
