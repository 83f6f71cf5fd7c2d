#!/bin/sh
# The Windows program's report against the Linux one's on the namespace test network, with the same
# wait and hop limit: a silent target (the target answers nothing; hops 4 to the limit stay silent),
# and a reachable one. Both probe ahead, so the silent target takes about one wait on both; the
# Windows program runs under wine, whose start (`routetrace.exe --version`) is timed apart.
# The wine server runs inside the client's namespace with a prefix of this script's own.
# Needs root and wine; builds: build/ (Linux) and build-win/ (scripts/build-windows).
# usage: bench/report_windows.sh [BUILD_DIR [WINDOWS_BUILD_DIR]]   (RUNS=3 WAIT=0.2 MAX_HOPS=10)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
win=${2:-"$root/build-win"}
runs=${RUNS:-3}
wait=${WAIT:-0.2}
max=${MAX_HOPS:-10}
for f in "$build/routetrace" "$win/routetrace.exe"; do
    [ -f "$f" ] || { echo "no $f: build it first (scripts/build, scripts/build-windows)" >&2; exit 1; }
done
here="$root/tests/windows"
topology="$root/tests/netns/topology.sh"
. "$here/wine_network.sh"
trap wine_network_down EXIT
cp "$build/routetrace" "$win/routetrace.exe" "$work/"
wine_network_up
cd "$work"

now_ms() { date +%s%3N; }
mean_ms() { # the mean milliseconds of $runs runs of the command
    began=$(now_ms)
    for _ in $(seq "$runs"); do "$@" >/dev/null 2>&1 || true; done
    echo $((($(now_ms) - began) / runs))
}

compare() { # name
    echo "== $1 target (wait $wait s, at most $max hops, mean of $runs runs)"
    linux=$(mean_ms in_client ./routetrace --report 203.0.113.2 -w "$wait" -m "$max")
    windows=$(mean_ms in_client wine routetrace.exe --report 203.0.113.2 -w "$wait" -m "$max")
    echo "Linux routetrace --report:          ${linux} ms"
    echo "Windows routetrace.exe under wine:  ${windows} ms"
    echo "  less wine's start:                $((windows - start_up)) ms" \
         "(ratio to Linux: $(awk "BEGIN { printf \"%.2f\", ($windows - $start_up) / ($linux ? $linux : 1) }"))"
}

start_up=$(mean_ms in_client wine routetrace.exe --version)
echo "routetrace.exe --version under wine: ${start_up} ms"
compare reachable
sh "$topology" silence "$p" target
compare silent
