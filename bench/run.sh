#!/usr/bin/env bash
# Runs Lanternfall's benchmarks and prints one table. Everything runs on a private Xvfb
# with openbox; nothing here is part of the test suite.
#
#   bench/run.sh [--runs N] [--only 1,2,3,4,5] [--detail] [--json FILE] ...
#
# N (default 5, or BENCH_RUNS) is the number of runs; each figure is reported as the
# median and the range of its ratio to its anchor over the runs. Other options: see
# `python3 bench/bench.py --help`.
set -euo pipefail
cd "$(dirname "$0")/.."

mkdir -p bench/.build
logfile=bench/.build/prepare.log
: >"$logfile"
# Runs a step quietly; its output is shown only when it fails.
step() {
  echo "bench: $*" >&2
  if ! "$@" >>"$logfile" 2>&1; then
    tail -n 40 "$logfile" >&2
    echo "bench: failed: $* (whole log: $logfile)" >&2
    exit 1
  fi
}

# What the benchmarks need: the project's own packages, Chromium and valgrind.
step bench/setup.sh

# The host, as the project builds it (configured here when there is no build yet).
if [[ ! -f build/CMakeCache.txt ]]; then
  step cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
step cmake --build build -j2

# The benchmark programs and the round-trip movie, in a build folder of their own.
if [[ ! -f bench/.build/CMakeCache.txt ]]; then
  step cmake -S bench -B bench/.build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLF_BUILD_DIR="$PWD/build"
fi
step cmake --build bench/.build -j2

exec python3 bench/bench.py "$@"
