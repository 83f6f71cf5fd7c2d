#!/bin/sh
# The Windows program probes ahead as on Linux, through the system's asynchronous echo call: a report
# of a silent target (routetrace.exe --report target.test -m 10 -w 0.2) under wine in the namespace
# network. When the first silent hop's row is printed, its answer was due; by then all 10 probes are
# on the wire, one per hop: the echo requests the client sends are counted by a sniffer in its
# namespace, which prints every request sent before it is signalled (no timing: the rows and the
# requests are compared in the order they happened). The rows: the three routers, then stars, exit
# code 1. The JSON of the target answering: every round trip is a whole number of milliseconds.
# The wine server runs inside the client's namespace with a prefix of this test's own.
# usage: report_ahead_e2e.sh TOPOLOGY_SCRIPT ROUTETRACE_EXE ECHO_SNIFFER   (exit 77: skipped)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
topology=$1
sniffer_exe=$3
[ -x "$sniffer_exe" ] || { echo "skipped: no echo sniffer at $sniffer_exe (the host build's tests)"; exit 77; }
. "$here/wine_network.sh"
sniffer=""
program=""
trap 'kill $sniffer $program 2>/dev/null || true; wine_network_down' EXIT
cp "$2" "$work/routetrace.exe"
wine_network_up
cd "$work"
wait_for() { # wait_for SECONDS CONDITION...
    t=$(($1 * 10))
    shift
    while ! "$@"; do t=$((t - 1)); [ $t -gt 0 ] || return 1; sleep 0.1; done
}

# The target answering: whole milliseconds in JSON (no fraction, no exponent).
status=0
in_client wine routetrace.exe --report target.test -m 10 -w 0.2 --json > json 2> errors || status=$?
[ "$status" -eq 0 ] || { echo "--json: exit code $status, expected 0"; cat json errors; exit 1; }
grep -o '"rtt_ms":[^,}]*' json > rtts || true
[ "$(grep -c '"rtt_ms":[0-9][0-9]*$' rtts)" -eq 4 ] && ! grep -vq '"rtt_ms":[0-9][0-9]*$' rtts ||
    { echo "round trips in JSON, four whole milliseconds expected:"; cat json; exit 1; }
echo "JSON: $(tr '\n' ' ' < rtts)"

sh "$topology" silence "$p" target
ip netns exec "$p-client" "$sniffer_exe" 120 -1 out > wire 2> sniffer.err &
sniffer=$!
listening() { grep -qs listening sniffer.err; }
wait_for 10 listening || { echo "the sniffer did not start"; cat sniffer.err; exit 1; }
ip netns exec "$p-client" wine routetrace.exe --report target.test -m 10 -w 0.2 > report.raw 2> errors &
program=$!
first_silent_row() { tr -d '\r' < report.raw | grep -aq '^4	'; }
wait_for 60 first_silent_row || { echo "no row for hop 4"; cat report.raw errors; exit 1; }
kill -USR1 "$sniffer"
marked() { [ "$(grep -c '^mark$' wire)" -ge "$1" ]; }
wait_for 10 marked 1 || { echo "the sniffer did not mark"; exit 1; }
sed '/^mark$/q' wire | grep -v '^mark$' | cut -d' ' -f1 | sort -n > ttls.due
status=0
wait "$program" || status=$?
program=""
kill -USR1 "$sniffer"
wait_for 10 marked 2 || { echo "the sniffer did not mark"; exit 1; }
grep -v '^mark$' wire | cut -d' ' -f1 | sort -n > ttls
tr -d '\r' < report.raw > report
cat report errors
[ "$status" -eq 1 ] || { echo "exit code $status, expected 1 (not reached)"; exit 1; }
{
    printf '1\t192.0.2.2\n2\t198.51.100.2\n3\t198.51.100.6\n'
    for hop in 4 5 6 7 8 9 10; do printf '%s\t*\n' "$hop"; done
} > expected
cut -f1,2 report | cmp -s - expected || { echo "expected rows:"; cat expected; exit 1; }
seq 1 10 > ttls.expected
cmp -s ttls.due ttls.expected ||
    { echo "on the wire when hop 4's answer was due (TTL 1 to 10 expected):"; tr '\n' ' ' < ttls.due; echo; exit 1; }
cmp -s ttls ttls.expected || { echo "on the wire in all, one per hop expected:"; tr '\n' ' ' < ttls; echo; exit 1; }
echo "on the wire when the first silent row was printed: TTL $(tr '\n' ' ' < ttls.due)"
