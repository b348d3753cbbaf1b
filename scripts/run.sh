#!/usr/bin/env bash
# One command: set up, build and start the host with the bundled demo movie.
# Without a display (no DISPLAY), it runs on a private Xvfb with openbox and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
if [[ -z ${DISPLAY:-} ]]; then
  echo "run: no DISPLAY; starting a private Xvfb :77 with openbox (screenshots: DISPLAY=:77 import -window root shot.png)"
  Xvfb :77 -screen 0 1920x1080x24 -noreset -nolisten tcp &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
  export DISPLAY=:77
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  openbox >/dev/null 2>&1 &
fi
exec build/bin/lanternfall "$@"
