#!/usr/bin/env bash
# One command: set up (with what the tests need), build and run the tests (unit and
# end-to-end under Xvfb) but the long fault tests (`ctest -L long`).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
scripts/build.sh
cd build
ctest --output-on-failure --no-tests=error -j"${TEST_JOBS:-2}" -LE long "$@"
