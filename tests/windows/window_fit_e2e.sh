#!/bin/sh
# The Windows program's window on screens of several sizes and scales, under wine and Xvfb:
# - 1366x768 at 96 DPI and 1920x1080 at 144 DPI (wine's LogPixels), where the form does not fit: the
#   window lies inside its monitor's work area, can be resized, and its list shows five rows or more;
# - 1600x1200 at 96 DPI, where it fits: the window is the form's (at 50, 50, 600 x 800, the list at
#   7, 325, 580 x 350 in the client area) and cannot be resized;
# each time no control overlaps another or leaves the client area (PROBE layout). On the last
# screen the window's own tests of its labels and of a move to another DPI (FRONTENDS_TEST,
# Win32Layout.*) run too. Screenshots go to ARTIFACTS.
# The wine server runs inside the client's namespace with a prefix of this test's own, started anew
# for each screen (its desktop takes the display it finds then), and is stopped there.
# usage: window_fit_e2e.sh TOPOLOGY_SCRIPT ROUTETRACE_EXE ARTIFACTS FRONTENDS_TEST   (exit 77: skipped)
# Environment: PROBE (tests/windows/window_probe.exe), SCREENSHOT (optional).
set -eu
for tool in Xvfb xdotool; do
    command -v $tool >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -n "${PROBE:-}" ] || { echo "skipped: no window probe (PROBE)"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)
topology=$1
artifacts=$3
frontends=$4
. "$here/wine_network.sh"
screenshot() { [ -z "${SCREENSHOT:-}" ] || "$SCREENSHOT" "$artifacts/$1" >/dev/null 2>&1 || true; }
mkdir -p "$artifacts"
cp "$2" "$work/routetrace.exe"
cd "$work"
xvfb=""
program=""
cleanup() {
    [ -z "$program" ] || kill "$program" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wine_network_down
}
trap cleanup EXIT
probe() { in_client timeout 60 wine "$PROBE" "$@" | tr -d '\r'; }
wait_for() { # wait_for SECONDS CONDITION...
    t=$(($1 * 10))
    shift
    while ! "$@"; do t=$((t - 1)); [ $t -gt 0 ] || return 1; sleep 0.1; done
}
shown() { [ "$(xdotool search --onlyvisible --name Toviq 2>/dev/null | wc -l)" -eq 1 ]; }
display=$((300 + $$ % 200))
fail() { echo "$*"; exit 1; }

# screen NAME WIDTH HEIGHT DPI: a display of that size, a wine session on it at that DPI, and the
# program's window; leaves its placement in placement-NAME.
screen() {
    name=$1
    if [ -n "$xvfb" ]; then
        in_client wineserver -k 2>/dev/null || true
        kill "$xvfb" 2>/dev/null || true
        display=$((display + 1))
    fi
    export DISPLAY=":$display"
    Xvfb "$DISPLAY" -screen 0 "${2}x${3}x24" -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    up() { [ -e "/tmp/.X11-unix/X$display" ]; }
    wait_for 10 up || fail "Xvfb did not start on $DISPLAY"
    if [ -z "${network:-}" ]; then
        wine_network_up
        network=1
    else
        in_client "$here/../../scripts/wine-session" 120
    fi
    for key in 'HKCU\Control Panel\Desktop' 'HKCC\Software\Fonts'; do
        in_client timeout 60 wine reg add "$key" /v LogPixels /t REG_DWORD /d "$4" /f >/dev/null 2>&1
    done
    in_client timeout 120 wine routetrace.exe >program.out 2>&1 &
    program=$!
    wait_for 30 shown || { cat program.out; fail "the window did not appear on $name"; }
    sleep 1
    probe layout >"layout-$name" || { cat "layout-$name"; screenshot "windows-$name-overlap.png"; fail "overlaps on $name"; }
    probe placement >"placement-$name"
    screenshot "windows-$name.png"
    echo "$name: $(tr '\n' ' ' <"placement-$name")"
}
value() { grep "^$2 " "placement-$1" | cut -d' ' -f2-; }
close_program() {
    probe close >/dev/null
    status=0
    wait "$program" || status=$?
    program=""
    [ "$status" -eq 0 ] || fail "exit code $status after closing on $1"
}
inside() { # NAME DPI: inside the work area, resizable, five rows, the form's width at the DPI
    set -- "$1" "$2" $(value "$1" window) $(value "$1" workarea)
    [ "$3" -ge "$7" ] && [ "$4" -ge "$8" ] && [ $(($3 + $5)) -le $(($7 + $9)) ] && [ $(($4 + $6)) -le $((${8} + ${10})) ] ||
        fail "$1: the window is not inside the work area"
    [ "$5" -ge $((600 * $2 / 96)) ] || fail "$1: narrower than the form"
    [ "$(value "$1" resizable)" = 1 ] || fail "$1: it cannot be resized"
    [ "$(value "$1" rows)" -ge 5 ] || fail "$1: fewer than five rows in the list"
}

screen 1366x768-96dpi 1366 768 96
inside 1366x768-96dpi 96
close_program 1366x768-96dpi
screen 1920x1080-144dpi 1920 1080 144
inside 1920x1080-144dpi 144
close_program 1920x1080-144dpi
screen 1600x1200-96dpi 1600 1200 96
[ "$(value 1600x1200-96dpi window)" = "50 50 600 800" ] || fail "1600x1200: not the form's rectangle"
[ "$(value 1600x1200-96dpi list)" = "7 325 580 350" ] || fail "1600x1200: the list is not the form's"
[ "$(value 1600x1200-96dpi resizable)" = 0 ] || fail "1600x1200: the form's window can be resized"
close_program 1600x1200-96dpi
in_client timeout 120 wine "$frontends" --gtest_filter='Win32Layout.*' >gtest.out 2>&1 || { tr -d '\r' <gtest.out; fail "Win32Layout failed"; }
tr -d '\r' <gtest.out | grep -E '^\[ +(OK|SKIPPED) '
grep -q 'PASSED  \] 2 tests' gtest.out || { tr -d '\r' <gtest.out; fail "Win32Layout did not pass both tests"; }
