#!/bin/sh
# Start-up to the first full screen in a terminal: build/routetrace under tmux (80 x 24), from the
# start of the program until the screen shows the start button. Goal: under 50 ms.
# A tmux server of its own per run (-L): other users of tmux on the machine cannot end it, and a
# run never reaches the server of the run before while that one is still going away.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
runs=${RUNS:-10}
tmp=$(mktemp -d)
chmod 700 "$tmp"
session="rtstart$$"
socket="$session"
tmux() { command tmux -L "$socket" "$@"; }
trap 'tmux kill-server 2>/dev/null; rm -rf "$tmp"' EXIT
total=0
i=0
while [ $i -lt "$runs" ]; do
    socket="$session-$i"
    tmux new-session -d -s "$session" -x 80 -y 24 "sleep 0.3; date +%s%N > $tmp/start; env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR=$tmp TERM=xterm-256color $build/routetrace"
    until tmux capture-pane -p -t "$session" 2>/dev/null | grep -q "开始追踪"; do sleep 0.002; done
    shown=$(date +%s%N)
    total=$((total + shown - $(cat "$tmp/start")))
    tmux kill-server
    i=$((i + 1))
done
ms=$((total / runs / 1000000))
echo "terminal interface: $ms ms from start to the first full screen (mean of $runs)"
echo "ratio to the goal:  $(awk "BEGIN { printf \"%.2f\", $ms / 50 }") (goal: at most 1.0, 50 ms)"
