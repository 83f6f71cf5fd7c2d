#!/bin/sh
# The Windows program's window under wine and Xvfb, in the namespace network, compared with what
# `routetrace.exe --report` prints for the same trace:
# - started with an argument it does not know (a file dropped on its icon), the window opens;
# - at 96 DPI no two controls overlap and all lie in the client area (PROBE reads the rectangles);
# - a typed target and a click on the start button put one echo request per hop on the wire, TTL 1
#   to 4, with the corrected data size (32, seen by SNIFFER at the first router);
# - the window's messages are the report's, in the same order, the end message last ("没找到数据库"
#   where no QQWry.dat is at hand: the window shows it for each lookup, the report once), and the
#   list's rows are the report's rows (hop,
#   address, place; each with a time); lsjl.ini beside the program holds the target;
# - "退出" ends the program with exit code 0;
# - at 192 DPI (wine's LogPixels) the form is laid out at twice the size, again without overlaps
#   and inside the client area.
# The wine server runs inside the client's namespace, with a prefix of this test's own in which a
# CJK font stands in for wine's own faces, and is stopped there. Screenshots go to ARTIFACTS.
# usage: window_e2e.sh TOPOLOGY_SCRIPT ROUTETRACE_EXE ARTIFACTS [QQWRY_DAT]   (exit 77: skipped)
# Environment: PROBE (tests/windows/window_probe.exe), SCREENSHOT and SNIFFER (optional).
set -eu
for tool in Xvfb xdotool; do
    command -v $tool >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -n "${PROBE:-}" ] || { echo "skipped: no window probe (PROBE)"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)
topology=$1
artifacts=$3
. "$here/wine_network.sh"
screenshot() { [ -z "${SCREENSHOT:-}" ] || "$SCREENSHOT" "$artifacts/$1" >/dev/null 2>&1 || true; }
mkdir -p "$artifacts" "$work/report"
cp "$2" "$work/routetrace.exe"
cp "$2" "$work/report/routetrace.exe"
if [ -n "${4:-}" ] && [ -f "$4" ]; then ln -s "$4" "$work/QQWry.dat"; ln -s "$4" "$work/report/QQWry.dat"; fi
xvfb=""
program=""
cleanup() {
    [ -z "$program" ] || kill "$program" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wine_network_down
}
trap cleanup EXIT
export DISPLAY=:$((300 + $$ % 200))
# Room for the window at 200 %.
Xvfb "$DISPLAY" -screen 0 1400x1800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
# Before the first wine program: the desktop process it starts takes the display it finds then.
wine_network_up
probe() { in_client timeout 60 wine "$PROBE" "$@" | tr -d '\r'; }

# What the report prints for the trace: its rows, and its last message.
(cd "$work/report" && in_client timeout 120 wine routetrace.exe --report 203.0.113.2 > report.raw 2> messages.raw) ||
    { echo "the report failed"; cat "$work/report/messages.raw"; exit 1; }
cd "$work"
tr -d '\r' < report/report.raw > report-rows
# The program's own messages; the report's hints for a person (in English) are its own.
tr -d '\r' < report/messages.raw | grep -v '^routetrace: ' > report-messages

in_client timeout 150 wine routetrace.exe dropped-file.txt >program.out 2>&1 &
program=$!

windows() { xdotool search --onlyvisible --name Toviq 2>/dev/null | wc -l; }
wait_for() { # wait_for SECONDS CONDITION...
    t=$(( $1 * 10 )); shift
    while ! "$@"; do t=$((t - 1)); [ $t -gt 0 ] || return 1; sleep 0.1; done
}
shown() { [ "$(windows)" -eq "$1" ]; }
wait_for 30 shown 1 || { echo "the window did not appear (started with an unknown argument)"; cat program.out; exit 1; }
sleep 1
screenshot windows-start.png
probe layout > layout-96 || { cat layout-96; screenshot windows-96dpi-overlap.png; exit 1; }
screenshot windows-96dpi.png
# The client area starts below the menu bar; positions are the form's (group box 1 at 7, 10 holds the
# combo box at 80, 20; the start button is at 485, 280).
eval "$(xdotool search --onlyvisible --name Toviq getwindowgeometry --shell | head -n 3)"
click() { xdotool mousemove $((X + $1)) $((Y + 20 + $2)) click 1; sleep 0.3; }
click $((7 + 80 + 100)) $((10 + 20 + 12))
xdotool type --delay 20 203.0.113.2
sleep 0.3
sniffer=""
if [ -n "${SNIFFER:-}" ]; then
    ip netns exec "$p-r1" "$SNIFFER" 30 > wire 2> sniffer.err &
    sniffer=$!
    listening() { grep -qs listening sniffer.err; }
    wait_for 10 listening || { echo "the sniffer did not start"; cat sniffer.err; exit 1; }
fi
click $((485 + 50)) $((280 + 16))
recorded() { grep -q "203.0.113.2" lsjl.ini 2>/dev/null; }
wait_for 10 recorded || { echo "lsjl.ini does not hold the target"; exit 1; }
# Each message the report printed appears in the window, in turn, up to the end message; all but
# that are dismissed. The window repeats a message for each lookup that shows it ("没找到数据库"
# without a database) where the report says it once: repeats count once.
message_open() { probe message > window-message 2>/dev/null; }
: > window-messages
last=$(tail -n 1 report-messages)
while :; do
    wait_for 30 message_open || { echo "no further message"; screenshot windows-no-end.png; break; }
    cat window-message >> window-messages
    [ "$(tail -n 1 window-messages)" != "$last" ] || break
    probe dismiss >/dev/null
done
screenshot windows-trace-end-message.png
uniq window-messages > window-messages.once
uniq report-messages > report-messages.once
cmp -s window-messages.once report-messages.once ||
    { echo "the window's messages:"; cat window-messages; echo "the report's:"; cat report-messages; exit 1; }
echo "messages as the report's, the last: $(tail -n 1 window-messages)"
if [ -n "$sniffer" ]; then
    kill "$sniffer" 2>/dev/null || true
    printf '1 32\n2 32\n3 32\n4 32\n' > wire-expected
    sort -n wire | cmp -s - wire-expected || { echo "on the wire (TTL, data size):"; cat wire; exit 1; }
    echo "on the wire (TTL, data size): $(tr '\n' ' ' < wire)"
fi
probe rows > window-rows
cut -f1-3 window-rows > window-cells
cut -f1-3 report-rows > report-cells
cmp -s window-cells report-cells || { echo "the window's rows:"; cat window-rows; echo "the report's:"; cat report-rows; exit 1; }
if cut -f4 window-rows | grep -qx ''; then echo "a row without its time:"; cat window-rows; exit 1; fi
echo "rows as the report's: $(wc -l < window-rows)"
probe dismiss > /dev/null || { echo "the end message stayed"; exit 1; }
screenshot windows-trace-finished.png
# The menu's last item, "退出".
xdotool mousemove $((X + 20)) $((Y + 10)) click 1
sleep 0.5
xdotool key Up Return
status=0
wait "$program" || status=$?
program=""
echo "exit code $status; lsjl.ini: $(tr -d '\r' < lsjl.ini | tr '\n' ' ')"
[ "$status" -eq 0 ] || exit 1

# At 200 %: the same form at twice the size.
for key in 'HKCU\Control Panel\Desktop' 'HKCC\Software\Fonts'; do
    in_client timeout 60 wine reg add "$key" /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
done
in_client timeout 120 wine routetrace.exe >program.out 2>&1 &
program=$!
wait_for 30 shown 1 || { echo "the window did not appear at 192 DPI"; cat program.out; exit 1; }
sleep 1
probe layout > layout-192 || { cat layout-192; screenshot windows-192dpi-overlap.png; exit 1; }
screenshot windows-192dpi.png
width() { grep -o 'SysListView32 at [0-9,]* size [0-9]*' "$1" | sed 's/.* size //'; }
[ "$(width layout-192)" -eq $(( 2 * $(width layout-96) )) ] ||
    { echo "the list is $(width layout-192) pixels wide at 192 DPI, $(width layout-96) at 96"; cat layout-96 layout-192; exit 1; }
echo "at 96 DPI: $(head -n 1 layout-96); at 192 DPI: $(head -n 1 layout-192)"
probe close
status=0
wait "$program" || status=$?
program=""
[ "$status" -eq 0 ] || { echo "exit code $status after closing at 192 DPI"; exit 1; }
