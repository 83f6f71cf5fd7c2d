#!/bin/sh
# The real IcmpSendEcho of wine through a network of namespaces: one echo request per TTL, a Time
# Exceeded (status 11013) from each router, then the target's echo reply (status 0). wine's probes are
# sent by its device service, which starts with the wine server: the server runs inside the client's
# namespace, with a prefix of this test's own, and is stopped there.
# usage: icmp_hops.sh TOPOLOGY_SCRIPT ICMP_HOPS_EXE   (exit 77: skipped)
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
