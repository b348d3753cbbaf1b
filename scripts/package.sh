#!/usr/bin/env bash
# One command: set up, build, and make the Debian package and the program-folder archive:
#   build/lanternfall_<version>_amd64.deb
#   build/lanternfall-<version>-linux-x86_64.tar.gz
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --package
scripts/build.sh
cpack --config build/CPackConfig.cmake -B build
rm -rf build/_CPack_Packages
