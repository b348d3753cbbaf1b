#!/usr/bin/env bash
# One command: set up, build and run every test (unit and end-to-end under Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
cd build
ctest --output-on-failure -j"${TEST_JOBS:-2}" -LE long "$@"
