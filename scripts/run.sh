#!/usr/bin/env bash
# One command: set up, build and start the host with the bundled demo movie.
# Without a display (no DISPLAY), it runs on a private Xvfb with openbox and says so; both
# end with the game, however the game or this script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
if [[ -n ${DISPLAY:-} ]]; then
  exec build/bin/lanternfall "$@"
fi

private=$(mktemp -d)
xvfb_pid= wm_pid= host_pid=
cleanup() {
  [[ -n $host_pid ]] && kill -TERM "$host_pid" 2>/dev/null
  [[ -n $wm_pid ]] && kill "$wm_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$private"
}
trap cleanup EXIT
# Ctrl+C, a hang-up or a kill of this script end the game; the clean-up above follows.
trap 'kill -TERM "$host_pid" 2>/dev/null || exit 143' INT TERM HUP

# The first free display number, which Xvfb writes once it is ready.
mkfifo "$private/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -noreset -nolisten tcp 3>"$private/display" \
  >/dev/null 2>&1 &
xvfb_pid=$!
read -r number <"$private/display" || true
if [[ -z ${number:-} ]]; then
  echo "run: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$number"
# A desktop mode with real timings: the stock modes of Xvfb report 0 Hz, and on such a
# desktop the game would not switch the display to 800x600.
xrandr --newmode 1920x1080_60.00 173.00 1920 2048 2248 2576 1080 1083 1088 1120 -hsync +vsync
xrandr --addmode screen 1920x1080_60.00
xrandr --output screen --mode 1920x1080_60.00
openbox >/dev/null 2>&1 &
wm_pid=$!
for _ in $(seq 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
echo "run: no DISPLAY; the game runs on a private Xvfb $DISPLAY with openbox" \
  "(screenshots: DISPLAY=$DISPLAY import -window root shot.png)"

build/bin/lanternfall "$@" &
host_pid=$!
# wait returns early when a signal arrives; the host is then ending, so wait again.
while true; do
  status=0
  wait "$host_pid" || status=$?
  kill -0 "$host_pid" 2>/dev/null || break
done
host_pid=
exit "$status"
