#!/bin/bash
# The ICMP helper driven as hard as a caller can (bench/helper_rate.cpp): 16 requests outstanding,
# 1 ms waits, toward a silent target in the namespace test network. Prints the echo requests per
# second measured on the wire against the helper's bound (500/s after a burst of 16).
# Needs root. usage: bench/helper_rate.sh [BUILD_DIR] (RATE_SECONDS=5 by default)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
seconds=${RATE_SECONDS:-5}
prefix="rtrate$$"
topology="$root/tests/netns/topology.sh"
trap '"$topology" down "$prefix"' EXIT
"$topology" up "$prefix"
"$topology" silence "$prefix" target
ip netns exec "$prefix-client" "$build/bench/helper_rate" "$build/routetrace-icmp" "$seconds"
