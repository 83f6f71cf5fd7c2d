#!/bin/bash
# The report against traceroute and mtr on the namespace test network, each with the same wait and
# hop limit: a reachable target (4 hops) and a silent one (the target answers nothing; hops 4 to
# the limit stay silent). Prints whether the hop addresses agree, each tool's time for the whole
# run (start-up included) and the report's ratio to `traceroute -I -n -q1` against its goal: at
# most 2 for the reachable target, 1.1 for the silent one. The tools take turns, run by run, and
# each one's best run counts, so that one run slowed by the machine's other work decides nothing.
# traceroute probes up to 16 hops at once by default, and so does the report's ICMP layer under the
# report's bounds (the program itself asks for one hop after another); traceroute -N 1, one probe at
# a time, is timed as well. The report runs through the datagram ICMP socket, and again through the
# ICMP helper (routetrace-icmp from the build, with the socket closed in the client's namespace);
# `routetrace --version` shows what start-up alone costs.
# Needs root. mtr and traceroute are used where installed; a missing one is skipped, saying so.
# usage: bench/report_vs_tools.sh [BUILD_DIR]   (RUNS=5 WAIT=0.5 MAX_HOPS=10)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
runs=${RUNS:-5}
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

# Runs each command of the array names given (each an array of its command's words) in turn, $runs
# rounds, and sets best[NAME] to its best run in microseconds. Timed by bash's own clock.
declare -A best
race() {
    local name round t0 t1 words
    for name in "$@"; do best[$name]=""; done
    for ((round = 0; round < runs; round++)); do
        for name in "$@"; do
            local words="$name[@]"
            t0=${EPOCHREALTIME/[.,]/}
            "${!words}" >/dev/null 2>&1 || true
            t1=${EPOCHREALTIME/[.,]/}
            if [ -z "${best[$name]}" ] || ((t1 - t0 < best[$name])); then best[$name]=$((t1 - t0)); fi
        done
    done
}
ms() { awk "BEGIN { printf \"%.1f\", $1 / 1000 }"; }
ratio() { awk "BEGIN { printf \"%.2f\", $1 / ($2 ? $2 : 1) }"; }

compare() { # name target goal
    name=$1
    target=$2
    goal=$3
    echo "== $name target $target (wait $wait s, at most $max hops, best of $runs runs, in turns)"
    report=(in_client "$work/routetrace" --report "$target" -w "$wait" -m "$max")
    version=(in_client "$work/routetrace" --version)
    traceroute=(in_client traceroute -I -n -q1 -w "$wait" -m "$max" "$target")
    serial=(in_client traceroute -I -n -q1 -N1 -w "$wait" -m "$max" "$target")
    mtr=(in_client mtr -r -c1 -n -m "$max" -G "$wait" "$target")
    tools=(report version)
    command -v traceroute >/dev/null && tools+=(traceroute serial)
    command -v mtr >/dev/null && tools+=(mtr)
    (cd "$work" && "${report[@]}" 2>/dev/null || true) | hops_report > "$work/ours"
    (cd "$work" && race "${tools[@]}" && declare -p best) > "$work/best"
    source "$work/best"
    echo "routetrace --report:      $(ms "${best[report]}") ms, $(wc -l < "$work/ours") hops"
    if [ -x "$build/routetrace-icmp" ]; then
        cp "$build/routetrace-icmp" "$work/"
        in_client sysctl -qw net.ipv4.ping_group_range="1 0"
        (cd "$work" && "${report[@]}" 2>/dev/null || true) | hops_report > "$work/helper"
        (cd "$work" && race report && declare -p best) > "$work/best-helper"
        helper=$(source "$work/best-helper" && echo "${best[report]}")
        in_client sysctl -qw net.ipv4.ping_group_range="0 2147483647"
        rm "$work/routetrace-icmp"
        if diff -q "$work/ours" "$work/helper" >/dev/null; then agree=agree; else agree="DIFFER:"; fi
        echo "  through the ICMP helper: $(ms "$helper") ms; hop addresses $agree"
    else
        echo "  through the ICMP helper: skipped: no $build/routetrace-icmp"
    fi
    echo "  start-up (--version):    $(ms "${best[version]}") ms"
    if command -v traceroute >/dev/null; then
        "${traceroute[@]}" 2>/dev/null | hops_traceroute > "$work/theirs"
        if diff -q "$work/ours" "$work/theirs" >/dev/null; then agree=agree; else agree="DIFFER:"; fi
        echo "traceroute -I -n -q1:     $(ms "${best[traceroute]}") ms; hop addresses $agree"
        [ "$agree" = agree ] || diff "$work/ours" "$work/theirs" || true
        echo "traceroute ... -N1:       $(ms "${best[serial]}") ms"
        echo "ratio to traceroute:      $(ratio "${best[report]}" "${best[traceroute]}") (goal: at most $goal;" \
             "to -N1: $(ratio "${best[report]}" "${best[serial]}"))"
    else
        echo "traceroute: skipped: not installed"
    fi
    if command -v mtr >/dev/null; then
        "${mtr[@]}" 2>/dev/null | hops_mtr > "$work/mtr"
        # mtr leaves out the silent hops after the last that answered.
        if [ "$(head -n "$(wc -l < "$work/mtr")" "$work/ours")" = "$(cat "$work/mtr")" ]; then agree=agree; else agree="DIFFER:"; fi
        echo "mtr -r -c1 -n:            $(ms "${best[mtr]}") ms; hop addresses $agree"
        [ "$agree" = agree ] || diff "$work/ours" "$work/mtr" || true
    else
        echo "mtr: skipped: not installed"
    fi
}

compare reachable 203.0.113.2 2
"$topology" silence "$prefix" target
compare silent 203.0.113.2 1.1
