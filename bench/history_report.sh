#!/bin/sh
# What a history of 16 MiB (millions of tiny entries, as another user could leave one beside a shared
# copy) costs a report that records its target: time and peak memory of `--report ... --record`
# with that history beside the program, against the same with a one-entry history. The history
# keeps its newest 1,000 entries, so both should be close. Needs root (the namespace network).
# usage: bench/history_report.sh [BUILD_DIR]   (RUNS=3)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
runs=${RUNS:-3}
prefix="rthb$$"
topology="$root/tests/netns/topology.sh"
work=$(mktemp -d)
trap '"$topology" down "$prefix"; rm -rf "$work"' EXIT
"$topology" up "$prefix"
cp "$build/routetrace" "$work/"
in_client() { ip netns exec "$prefix-client" "$@"; }

# lsjl.ini of about SIZE bytes: the history's section (GBK) and "url=" with that many bytes of "a|".
history() {
    printf '[\300\372\312\267\274\307\302\274]\r\nurl=' > "$work/lsjl.ini"
    head -c "$1" /dev/zero | tr '\0' 'a' | sed 's/aa/a|/g' >> "$work/lsjl.ini"
    printf '\r\n' >> "$work/lsjl.ini"
}

measure() { # name size
    peak=0 total=0 i=0
    while [ $i -lt "$runs" ]; do
        history "$2"
        start=$(date +%s%N)
        kb=$(cd "$work" && in_client /usr/bin/env time -f %M ./routetrace --report target.test --record 2>&1 >/dev/null | tail -n 1)
        end=$(date +%s%N)
        total=$((total + (end - start) / 1000000))
        [ "$kb" -gt "$peak" ] && peak=$kb
        i=$((i + 1))
    done
    echo "$1: $((total / runs)) ms, peak memory $((peak / 1024)) MiB (mean time and largest peak of $runs runs)"
}

command -v time >/dev/null 2>&1 || [ -x /usr/bin/time ] || { echo "skipped: /usr/bin/time is needed (package time)"; exit 0; }
measure "one-entry history" 2
measure "16 MiB history  " 16777000
