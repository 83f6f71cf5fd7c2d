#!/bin/sh
# Start-up to the first full screen in a terminal: build/routetrace under tmux (80 x 24), from the
# start of the program until the screen shows the start button. Goal: under 50 ms.
# Measured twice: on a pseudo-terminal read directly (exec until the start button's text has been
# written: the program's own time), and under tmux polled with capture-pane (which adds tmux's
# drawing and the polling's own process starts, several milliseconds each).
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
pty=$(env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$tmp" python3 - "$build/routetrace" "$runs" <<'EOF'
import fcntl, os, pty, select, signal, struct, sys, termios, time
program, runs, button = sys.argv[1], int(sys.argv[2]), "开始追踪".encode()
total = 0
for _ in range(runs):
    start = time.monotonic_ns()
    pid, fd = pty.fork()
    if pid == 0:
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        os.environ["TERM"] = "xterm-256color"
        os.execv(program, [program])
    seen = b""
    while button not in seen and select.select([fd], [], [], 5)[0]:
        try:
            seen += os.read(fd, 65536)
        except OSError:
            break
    total += time.monotonic_ns() - start
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    os.close(fd)
    if button not in seen:
        sys.exit("the start button never showed")
print(total // runs // 1000000)
EOF
)
echo "on a pseudo-terminal: $pty ms from exec to the first full screen written (mean of $runs)"
echo "under tmux:           $ms ms from start to the first full screen shown (mean of $runs)"
echo "ratio to the goal:    $(awk "BEGIN { printf \"%.2f\", $pty / 50 }") on the pseudo-terminal, $(awk "BEGIN { printf \"%.2f\", $ms / 50 }") under tmux (goal: at most 1.0, 50 ms)"
