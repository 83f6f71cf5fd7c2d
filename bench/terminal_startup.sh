#!/bin/sh
# Start-up to the first full screen in a terminal: build/routetrace under tmux (80 x 24), from the
# start of the program until the screen shows the start button. Target: under 100 ms.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
runs=${RUNS:-10}
tmp=$(mktemp -d)
chmod 700 "$tmp"
session="rtstart$$"
trap 'tmux kill-session -t "$session" 2>/dev/null; rm -rf "$tmp"' EXIT
total=0
i=0
while [ $i -lt "$runs" ]; do
    tmux new-session -d -s "$session" -x 80 -y 24 "sleep 0.3; date +%s%N > $tmp/start; env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR=$tmp TERM=xterm-256color $build/routetrace"
    until tmux capture-pane -p -t "$session" 2>/dev/null | grep -q "开始追踪"; do sleep 0.002; done
    shown=$(date +%s%N)
    total=$((total + shown - $(cat "$tmp/start")))
    tmux kill-session -t "$session"
    i=$((i + 1))
done
echo "terminal interface: $((total / runs / 1000000)) ms from start to the first full screen (mean of $runs)"
