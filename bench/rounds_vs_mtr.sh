#!/bin/sh
# Rounds against mtr on the namespace test network, where r2 (hop 2) rate-limits its Time Exceeded
# as many routers do (net.ipv4.icmp_ratelimit): `routetrace --report -c 10 -i 0.2` and
# `mtr -r -c 10 -i 0.2 -n`, each on a router that has had time to refill its allowance. Prints each
# tool's hops with their loss, whether the hops agree, whether the loss figures agree within what
# ROUNDS rounds allow (two standard errors of the difference of two such counts, and one round's
# worth), and both wall times.
# Needs root and mtr (Debian's mtr-tiny; scripts/setup installs it).
# usage: bench/rounds_vs_mtr.sh [BUILD_DIR]   (ROUNDS=10 INTERVAL=0.2 RATELIMIT_MS=1000)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
rounds=${ROUNDS:-10} interval=${INTERVAL:-0.2} ratelimit=${RATELIMIT_MS:-1000}
command -v mtr >/dev/null || { echo "skipped: mtr is not installed (scripts/setup installs mtr-tiny)"; exit 0; }
[ "$(id -u)" -eq 0 ] || { echo "skipped: building network namespaces needs root"; exit 0; }
prefix="rtrr$$"
topology="$root/tests/netns/topology.sh"
work=$(mktemp -d)
trap '"$topology" down "$prefix"; rm -rf "$work"' EXIT
"$topology" up "$prefix"
ip netns exec "$prefix-r2" sysctl -qw net.ipv4.icmp_ratelimit="$ratelimit"
cp "$build/routetrace" "$work/"
[ -f "$root/data/QQWry.dat" ] && cp "$root/data/QQWry.dat" "$work/"
in_client() { ip netns exec "$prefix-client" "$@"; }
target=203.0.113.2

# A router's allowance refills at one answer per RATELIMIT_MS, up to six: wait until it is full.
refill() { sleep "$(awk -v ms="$ratelimit" 'BEGIN { print ms * 6 / 1000 + 0.5 }')"; }

# Runs the command, its output into $1, and prints its wall time in milliseconds.
timed() {
    out=$1
    shift
    start=$(date +%s%N)
    "$@" > "$out" 2>/dev/null || true
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 ))
}

refill
ours_ms=$(cd "$work" && timed "$work/ours.txt" in_client ./routetrace --report "$target" -c "$rounds" -i "$interval")
refill
mtr_ms=$(timed "$work/mtr.txt" in_client mtr -r -c "$rounds" -i "$interval" -n "$target")

# "HOP ADDRESS LOSS" a line, loss without its percent sign.
awk 'NR > 1 && $1 ~ /^[0-9]+$/ { for (i = 3; i <= NF; ++i) if ($i ~ /%$/) { sub(/%/, "", $i); print $1, $2, $i; break } }' \
    "$work/ours.txt" > "$work/ours"
awk '$1 ~ /^[0-9]+\.\|--$/ { sub(/\..*/, "", $1); a = $2; if (a == "???") a = "*"; sub(/%/, "", $3); print $1, a, $3 }' \
    "$work/mtr.txt" > "$work/mtr"

echo "== $rounds rounds at $interval s to $target, hop 2 rate-limited to one answer in $ratelimit ms"
echo "routetrace --report -c $rounds -i $interval: ${ours_ms} ms"
cat "$work/ours.txt"
echo "mtr -r -c $rounds -i $interval -n: ${mtr_ms} ms"
cat "$work/mtr.txt"
if [ "$(cut -d' ' -f1-2 "$work/ours")" = "$(cut -d' ' -f1-2 "$work/mtr")" ]; then echo "hops: agree"; else
    echo "hops: DIFFER"
    diff "$work/ours" "$work/mtr" || true
fi
awk -v n="$rounds" 'NR == FNR { theirs[$1] = $3; next } ($1 in theirs) {
    a = $3 / 100; b = theirs[$1] / 100; p = (a + b) / 2
    bound = 100 * (2 * sqrt(p * (1 - p) * 2 / n) + 1 / n)
    d = 100 * (a - b); if (d < 0) d = -d
    printf "hop %s: loss %s%% against %s%%: %s (bound %.0f points)\n", $1, $3, theirs[$1], d <= bound ? "agree" : "DIFFER", bound
}' "$work/mtr" "$work/ours"
if [ "$ours_ms" -le "$mtr_ms" ]; then echo "wall time: at most mtr's ($ours_ms ms against $mtr_ms ms)"; else
    echo "wall time: MORE than mtr's ($ours_ms ms against $mtr_ms ms)"
fi
