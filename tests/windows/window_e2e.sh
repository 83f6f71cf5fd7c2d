#!/bin/sh
# The Windows program's window under wine and Xvfb, in the namespace network: the window titled as
# the form says appears; a typed target and a click on the start button put one echo request per
# hop on the wire, TTL 1 to 4, with the corrected data size (32, seen by SNIFFER at the first router);
# the end message shows; lsjl.ini beside the program holds the target; "退出" ends the program with
# exit code 0.
# The wine server runs inside the client's namespace, with a prefix of this test's own in which a
# CJK font stands in for wine's own faces, and is stopped there. Screenshots go to ARTIFACTS.
# usage: window_e2e.sh TOPOLOGY_SCRIPT ROUTETRACE_EXE ARTIFACTS [QQWRY_DAT]   (exit 77: skipped)
set -eu
for tool in Xvfb xdotool; do
    command -v $tool >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
here=$(cd "$(dirname "$0")" && pwd)
topology=$1
artifacts=$3
. "$here/wine_network.sh"
screenshot() { [ -z "${SCREENSHOT:-}" ] || "$SCREENSHOT" "$artifacts/$1" >/dev/null 2>&1 || true; }
mkdir -p "$artifacts"
cp "$2" "$work/routetrace.exe"
[ -n "${4:-}" ] && [ -f "$4" ] && ln -s "$4" "$work/QQWry.dat"
xvfb=""
program=""
cleanup() {
    [ -z "$program" ] || kill "$program" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wine_network_down
}
trap cleanup EXIT
export DISPLAY=:$((300 + $$ % 200))
Xvfb "$DISPLAY" -screen 0 1024x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
# Before the first wine program: the desktop process it starts takes the display it finds then.
wine_network_up
cd "$work"
in_client wine routetrace.exe >program.out 2>&1 &
program=$!

windows() { xdotool search --onlyvisible --name Toviq 2>/dev/null | wc -l; }
wait_for() { # wait_for SECONDS CONDITION...
    t=$(( $1 * 10 )); shift
    while ! "$@"; do t=$((t - 1)); [ $t -gt 0 ] || return 1; sleep 0.1; done
}
shown() { [ "$(windows)" -eq "$1" ]; }
wait_for 30 shown 1 || { echo "the window did not appear"; cat program.out; exit 1; }
sleep 1
screenshot windows-start.png
# The client area starts below the menu bar; positions are the form's (group box 1 at 7, 10 holds the
# combo box at 80, 20; the start button is at 485, 280).
eval "$(xdotool search --onlyvisible --name Toviq getwindowgeometry --shell | head -n 3)"
click() { xdotool mousemove $((X + $1)) $((Y + 20 + $2)) click 1; sleep 0.3; }
click $((7 + 80 + 100)) $((10 + 20 + 12))
xdotool type --delay 20 203.0.113.2
sleep 0.3
sniffer=""
if [ -n "${SNIFFER:-}" ]; then
    ip netns exec "$p-r1" "$SNIFFER" 15 > wire &
    sniffer=$!
    sleep 0.3
fi
click $((485 + 50)) $((280 + 16))
recorded() { grep -q "203.0.113.2" lsjl.ini 2>/dev/null; }
wait_for 10 recorded || { echo "lsjl.ini does not hold the target"; exit 1; }
wait_for 20 shown 2 || { echo "no end message"; screenshot windows-no-end.png; exit 1; }
screenshot windows-trace-end-message.png
if [ -n "$sniffer" ]; then
    kill "$sniffer" 2>/dev/null || true
    printf '1 32\n2 32\n3 32\n4 32\n' > wire-expected
    sort -n wire | cmp -s - wire-expected || { echo "on the wire (TTL, data size):"; cat wire; exit 1; }
    echo "on the wire (TTL, data size): $(tr '\n' ' ' < wire)"
fi
xdotool key Return
wait_for 5 shown 1 || { echo "the end message stayed"; exit 1; }
screenshot windows-trace-finished.png
# The menu's last item, "退出".
xdotool mousemove $((X + 20)) $((Y + 10)) click 1
sleep 0.5
xdotool key Up Return
status=0
wait "$program" || status=$?
program=""
echo "exit code $status; lsjl.ini: $(tr -d '\r' < lsjl.ini | tr '\n' ' ')"
[ "$status" -eq 0 ]
