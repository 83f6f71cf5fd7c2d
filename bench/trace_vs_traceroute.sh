#!/bin/bash
# A whole 4-hop trace on the namespace test network: the program's trace run against
# `traceroute -I -q 1` on the same network in the same run. Goal: within 1.1 times of traceroute.
# Needs root; installs traceroute when it is missing.
# usage: bench/trace_vs_traceroute.sh [BUILD_DIR]   (RUNS=20)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
runs=${RUNS:-20}
command -v traceroute >/dev/null || { apt-get update -qq && apt-get install -y -qq traceroute >/dev/null; }
prefix="rtbench$$"
topology="$root/tests/netns/topology.sh"
trap '"$topology" down "$prefix"' EXIT
"$topology" up "$prefix"

# The trace's lookups read QQWry.dat in the current folder, as the program's do: without it every
# hop would only report the database as missing.
cd "$root/data"
[ -f QQWry.dat ] || { echo "trace_vs_traceroute: no data/QQWry.dat (the place database)" >&2; exit 2; }
# The two take turns, run by run, so that a change in the machine's load weighs on both alike, and
# each side's best run counts: one run slowed by the machine's other work decides nothing. Timed by
# bash's own clock in microseconds, which starts no process.
ours=0 theirs=0
for ((i = 0; i < runs; i++)); do
    t0=${EPOCHREALTIME/[.,]/}
    ip netns exec "$prefix-client" "$build/bench/trace_once" 203.0.113.2 >/dev/null 2>&1
    t1=${EPOCHREALTIME/[.,]/}
    ip netns exec "$prefix-client" traceroute -I -q 1 -n 203.0.113.2 >/dev/null 2>&1
    t2=${EPOCHREALTIME/[.,]/}
    if ((i == 0 || t1 - t0 < ours)); then ours=$((t1 - t0)); fi
    if ((i == 0 || t2 - t1 < theirs)); then theirs=$((t2 - t1)); fi
done
echo "trace run:            ${ours} us per 4-hop trace (best of $runs)"
echo "traceroute -I -q 1 -n: ${theirs} us per 4-hop trace (best of $runs)"
echo "ratio:                $(awk "BEGIN { printf \"%.2f\", $ours / $theirs }") (goal: at most 1.1)"
