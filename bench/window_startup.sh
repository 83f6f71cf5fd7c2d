#!/bin/sh
# Exec to window shown: build/routetrace against a plain Qt program creating the same widgets
# directly, both timed the same way under Xvfb (until xdotool sees the window). Goal: within 1.1 times.
# A start that ends without showing its window (the display refused it) is retried, and counted.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
runs=${RUNS:-15}
display=":$((100 + $$ % 100))"
Xvfb "$display" -screen 0 1024x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
tmp=$(mktemp -d)
trap 'kill $xvfb; rm -rf "$tmp"' EXIT
export DISPLAY="$display" TMPDIR="$tmp" XDG_RUNTIME_DIR="$tmp"
chmod 700 "$tmp"
sleep 1

failed=0
time_to_window() { # $1 program, $2 window name: mean milliseconds over the runs
    total=0
    i=0
    while [ $i -lt "$runs" ]; do
        start=$(date +%s%N)
        "$1" >/dev/null 2>>"$tmp/errors" &
        pid=$!
        # xdotool's own --sync polls twice a second; a 10 ms poll resolves the difference.
        shown=true
        until timeout 2 xdotool search --onlyvisible --name "$2" >/dev/null 2>&1; do
            kill -0 $pid 2>/dev/null || { shown=false; break; }
            sleep 0.01
        done
        end=$(date +%s%N)
        kill $pid 2>/dev/null || true
        wait $pid 2>/dev/null || true
        if ! $shown; then
            failed=$((failed + 1))
            [ $failed -le 10 ] || { echo "window_startup: starts keep failing:" >&2; cat "$tmp/errors" >&2; exit 1; }
            continue
        fi
        total=$((total + end - start))
        i=$((i + 1))
    done
    echo $((total / runs / 1000000))
}
ours=$(time_to_window "$build/routetrace" Toviq)
plain=$(time_to_window "$build/bench/plain_window" Plain)
echo "routetrace:   ${ours} ms from exec to window shown"
echo "plain Qt:     ${plain} ms"
echo "ratio:        $(awk "BEGIN { printf \"%.2f\", $ours / $plain }") (goal: at most 1.1)"
[ $failed -eq 0 ] || echo "retried:      $failed starts that ended without a window"
