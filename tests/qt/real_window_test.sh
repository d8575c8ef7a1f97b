#!/usr/bin/env bash
# The viewer in a real X window (Xvfb): open a two-frame sequence at frame 1,
# press Right twice (step +2 settles on frame 0 after the jump past the end),
# check the screen shows that frame the right way up, press q, expect exit 0.
# Usage: real_window_test.sh VIEWER WINDOW_CHECK
set -euo pipefail
if [ "${1:-}" != "--inside-xvfb" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inside-xvfb "$@"
fi
viewer=$2
check=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$check" make "$work" "shot" 2 1024   # 1024x512 frames, 256x128 at 1/4

"$viewer" "$work/shot_1.dpx" &
pid=$!
win=$(xdotool search --sync --onlyvisible --name '^Karvelin$' | head -n 1)
xdotool windowfocus --sync "$win" || true
sleep 0.5
import -window root -depth 8 "$work/before.ppm"
"$check" check "$work/before.ppm" 1 256 128
xdotool key Right
sleep 0.2
xdotool key Right
sleep 0.5
import -window root -depth 8 "$work/after.ppm"
"$check" check "$work/after.ppm" 0 256 128
xdotool key q || true  # the window may be gone before the key is released
for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    echo "viewer still running after q"
    kill "$pid"
    exit 1
fi
wait "$pid"
