#!/bin/sh
# ipdb-lookup over 20,000 random addresses, as a whole process (start, the database read once, every
# lookup opening the database again, exit): microseconds per lookup, best of five runs.
# usage: bench/lookup_process.sh [DATABASE [BUILD_DIR]]   (default: data/QQWry.dat, build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
db=${1:-"$root/data/QQWry.dat"}
tool="${2:-"$root/build"}/tools/ipdb-lookup"
addresses=$(mktemp)
trap 'rm -f "$addresses"' EXIT
awk 'BEGIN { srand(7); for (i = 0; i < 20000; i++) printf "%d.%d.%d.%d\n", rand()*256, rand()*256, rand()*256, rand()*256 }' > "$addresses"
best=""
for run in 1 2 3 4 5; do
    start=$(date +%s%N)
    "$tool" --db "$db" < "$addresses" > /dev/null
    ns=$(( $(date +%s%N) - start ))
    [ -z "$best" ] || [ "$ns" -lt "$best" ] && best=$ns
done
echo "ipdb-lookup: $((best / 20000)) ns per lookup over 20000 addresses (whole process, best of 5)"
