#!/bin/sh
# A whole 4-hop trace on the namespace test network: the program's trace run against
# `traceroute -I -q 1` on the same network in the same run. Goal: within 1.1 times of traceroute.
# Needs root; installs traceroute when it is missing.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
runs=${RUNS:-20}
command -v traceroute >/dev/null || { apt-get update -qq && apt-get install -y -qq traceroute >/dev/null; }
prefix="rtbench$$"
topology="$root/tests/netns/topology.sh"
trap '"$topology" down "$prefix"' EXIT
"$topology" up "$prefix"

time_runs() { # prints the mean milliseconds of $runs runs of the command
    start=$(date +%s%N)
    i=0
    while [ $i -lt "$runs" ]; do "$@" >/dev/null 2>&1; i=$((i + 1)); done
    end=$(date +%s%N)
    echo $(( (end - start) / runs / 1000 ))
}
cd "$build" # the trace's lookups read QQWry.dat here
ours=$(time_runs ip netns exec "$prefix-client" "$build/bench/trace_once" 203.0.113.2)
theirs=$(time_runs ip netns exec "$prefix-client" traceroute -I -q 1 -n 203.0.113.2)
echo "trace run:            ${ours} us per 4-hop trace"
echo "traceroute -I -q 1:   ${theirs} us per 4-hop trace"
echo "ratio:                $(awk "BEGIN { printf \"%.2f\", $ours / $theirs }") (goal: at most 1.1)"
