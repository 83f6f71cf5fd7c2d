#!/bin/sh
# The real IcmpSendEcho of wine through a network of namespaces: one echo request per TTL, a Time
# Exceeded (status 11013) from each router, then the target's echo reply (status 0). wine's probes are
# sent by its device service, which starts with the wine server: the server runs inside the client's
# namespace, with a prefix of this test's own, and is stopped there.
# With the echo sniffer given, the same under a report's bounds, probing ahead (icmp_hops.cpp).
# usage: icmp_hops.sh TOPOLOGY_SCRIPT ICMP_HOPS_EXE [ECHO_SNIFFER]   (exit 77: skipped)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
topology=$1
exe=$2
. "$here/wine_network.sh"
trap wine_network_down EXIT
wine_network_up
# The program writes its lines Windows fashion, CR LF.
in_client wine "$exe" 203.0.113.2 | tr -d '\r' > "$work/hops"
cat "$work/hops"
printf '1 192.0.2.2 11013\n2 198.51.100.2 11013\n3 198.51.100.6 11013\n4 203.0.113.2 0\n' > "$work/expected"
cmp -s "$work/hops" "$work/expected" || { echo "expected:"; cat "$work/expected"; exit 1; }
[ -n "${3:-}" ] || exit 0
[ -x "$3" ] || { echo "probing ahead: not tested, no echo sniffer at $3 (the host build's tests)"; exit 0; }
# Probing ahead through the system's asynchronous echo call, toward a target that answers nothing:
# every hop's row from its own probe's answer, a second round that leaves the first one's probes
# behind, the handle closed with probes in flight; on the wire one request per hop and round.
sh "$topology" silence "$p" target
ip netns exec "$p-client" "$3" 120 -1 out > "$work/wire" 2> "$work/sniffer.err" &
sniffer=$!
trap 'kill $sniffer 2>/dev/null || true; wine_network_down' EXIT
n=100
until grep -qs listening "$work/sniffer.err"; do n=$((n - 1)); [ $n -gt 0 ] || { echo "the sniffer did not start"; exit 1; }; sleep 0.1; done
in_client wine "$exe" 203.0.113.2 10 | tr -d '\r' > "$work/ahead"
cat "$work/ahead"
{
    printf '1 192.0.2.2 11013\n2 198.51.100.2 11013\n3 198.51.100.6 11013\n'
    for ttl in 4 5 6 7 8 9 10; do echo "$ttl * 11010"; done
    printf '1 192.0.2.2 11013\n2 198.51.100.2 11013\n3 198.51.100.6 11013\nclosed\n'
} > "$work/ahead.expected"
cmp -s "$work/ahead" "$work/ahead.expected" || { echo "expected:"; cat "$work/ahead.expected"; exit 1; }
kill -USR1 "$sniffer"
n=100
until grep -qs '^mark$' "$work/wire"; do n=$((n - 1)); [ $n -gt 0 ] || { echo "the sniffer did not mark"; exit 1; }; sleep 0.1; done
grep -v '^mark$' "$work/wire" | cut -d' ' -f1 | sort -n > "$work/ttls"
seq 1 10 | sed p | sort -n > "$work/ttls.expected"
cmp -s "$work/ttls" "$work/ttls.expected" || { echo "TTLs on the wire:"; tr '\n' ' ' < "$work/ttls"; echo; exit 1; }
echo "on the wire: TTL 1 to 10, twice"
