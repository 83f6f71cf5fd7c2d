#!/bin/sh
# The report against mtr and traceroute on the namespace test network, each with the same wait and
# hop limit: a reachable target (4 hops) and a silent one (the target answers nothing; hops 4 to
# the limit stay silent). Prints whether the hop addresses agree and each tool's time, with the
# report's ratio to traceroute's. traceroute probes up to 16 hops at once by default, and so does
# the report's ICMP layer under the report's bounds (the program itself asks for one hop after
# another); traceroute -N 1, one probe at a time, is timed as well. The report runs through the
# datagram ICMP socket, and again through the ICMP helper (routetrace-icmp from the build, with the
# socket closed in the client's namespace); `routetrace --version` shows what start-up alone costs.
# Needs root. mtr and traceroute are used where installed; a missing one is skipped, saying so.
# usage: bench/report_vs_tools.sh [BUILD_DIR]   (RUNS=3 WAIT=0.5 MAX_HOPS=10)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
runs=${RUNS:-3}
wait=${WAIT:-0.5}
max=${MAX_HOPS:-10}
prefix="rtrb$$"
topology="$root/tests/netns/topology.sh"
work=$(mktemp -d)
trap '"$topology" down "$prefix"; rm -rf "$work"' EXIT
"$topology" up "$prefix"
cp "$build/routetrace" "$work/" # its history and database live beside it, apart from the build's
in_client() { ip netns exec "$prefix-client" "$@"; }

# The hops a tool printed, one "HOP ADDRESS" a line, "*" for a silent hop.
hops_report() { awk -F'\t' '{ print $1, $2 }'; }
hops_traceroute() { awk '$1 ~ /^[0-9]+$/ { print $1, $2 }'; }
hops_mtr() { awk '$1 ~ /^[0-9]+\.\|--$/ { sub(/\..*/, "", $1); a = $2; if (a == "???") a = "*"; print $1, a }'; }

mean_ms() { # the mean milliseconds of $runs runs of the command
    start=$(date +%s%N)
    i=0
    while [ $i -lt "$runs" ]; do "$@" >/dev/null 2>&1 || true; i=$((i + 1)); done
    end=$(date +%s%N)
    echo $(( (end - start) / runs / 1000000 ))
}

compare() { # name target
    name=$1
    target=$2
    echo "== $name target $target (wait $wait s, at most $max hops, mean of $runs runs)"
    (cd "$work" && in_client ./routetrace --report "$target" -w "$wait" -m "$max" 2>/dev/null || true) | hops_report > "$work/ours"
    ours=$(cd "$work" && mean_ms in_client ./routetrace --report "$target" -w "$wait" -m "$max")
    echo "routetrace --report:      ${ours} ms, $(wc -l < "$work/ours") hops"
    if [ -x "$build/routetrace-icmp" ]; then
        cp "$build/routetrace-icmp" "$work/"
        in_client sysctl -qw net.ipv4.ping_group_range="1 0"
        (cd "$work" && in_client ./routetrace --report "$target" -w "$wait" -m "$max" 2>/dev/null || true) | hops_report > "$work/helper"
        helper=$(cd "$work" && mean_ms in_client ./routetrace --report "$target" -w "$wait" -m "$max")
        in_client sysctl -qw net.ipv4.ping_group_range="0 2147483647"
        rm "$work/routetrace-icmp"
        if diff -q "$work/ours" "$work/helper" >/dev/null; then agree=agree; else agree="DIFFER:"; fi
        echo "  through the ICMP helper: ${helper} ms; hop addresses $agree"
    else
        echo "  through the ICMP helper: skipped: no $build/routetrace-icmp"
    fi
    echo "  start-up (--version):    $(cd "$work" && mean_ms in_client ./routetrace --version) ms"
    if command -v traceroute >/dev/null; then
        in_client traceroute -I -n -q1 -w "$wait" -m "$max" "$target" 2>/dev/null | hops_traceroute > "$work/theirs"
        theirs=$(mean_ms in_client traceroute -I -n -q1 -w "$wait" -m "$max" "$target")
        serial=$(mean_ms in_client traceroute -I -n -q1 -N1 -w "$wait" -m "$max" "$target")
        if diff -q "$work/ours" "$work/theirs" >/dev/null; then agree=agree; else agree="DIFFER:"; fi
        echo "traceroute -I -n -q1:     ${theirs} ms; hop addresses $agree"
        [ "$agree" = agree ] || diff "$work/ours" "$work/theirs" || true
        echo "traceroute ... -N1:       ${serial} ms"
        echo "ratio to traceroute:      $(awk "BEGIN { printf \"%.2f\", $ours / ($theirs ? $theirs : 1) }")" \
             "(to -N1: $(awk "BEGIN { printf \"%.2f\", $ours / ($serial ? $serial : 1) }"))"
    else
        echo "traceroute: skipped: not installed"
    fi
    if command -v mtr >/dev/null; then
        in_client mtr -r -c1 -n -m "$max" -G "$wait" "$target" 2>/dev/null | hops_mtr > "$work/mtr"
        took=$(mean_ms in_client mtr -r -c1 -n -m "$max" -G "$wait" "$target")
        # mtr leaves out the silent hops after the last that answered.
        if [ "$(head -n "$(wc -l < "$work/mtr")" "$work/ours")" = "$(cat "$work/mtr")" ]; then agree=agree; else agree="DIFFER:"; fi
        echo "mtr -r -c1 -n:            ${took} ms; hop addresses $agree"
        [ "$agree" = agree ] || diff "$work/ours" "$work/mtr" || true
    else
        echo "mtr: skipped: not installed"
    fi
}

compare reachable 203.0.113.2
"$topology" silence "$prefix" target
compare silent 203.0.113.2
