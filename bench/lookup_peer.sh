#!/bin/sh
# A place lookup against a peer reader of the same file format, in one run on the same addresses and
# database: ipdb-lookup as a whole process per batch (start, every lookup opening the database
# again, by a name in the current folder as the program's ".\QQWry.dat"; exit), against the npm
# package lib-qqwry in its memory mode, timed inside its own process
# around the lookups alone (the file already loaded). Goal: within 1.5 times of the peer.
# The peer is installed with npm into a temporary folder and used only here, as a yardstick.
# The two take turns, run by run (the peer's run is a process of its own that makes three passes, its
# best counting, as its code is compiled while it runs), and each side's best run counts.
# usage: bench/lookup_peer.sh [DATABASE [BUILD_DIR]]   (default: data/QQWry.dat, build; RUNS=5)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
db=$(realpath "${1:-"$root/data/QQWry.dat"}")
tool="${2:-"$root/build"}/tools/ipdb-lookup"
count=20000
runs=${RUNS:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/lookup-peer.XXXXXX")
trap 'rm -rf "$work"' EXIT
command -v npm >/dev/null || { echo "lookup_peer: npm is not installed" >&2; exit 2; }
npm install --prefix "$work" --no-audit --no-fund --silent lib-qqwry >/dev/null 2>&1 ||
    { echo "lookup_peer: lib-qqwry could not be installed with npm" >&2; exit 2; }
awk -v n=$count 'BEGIN { srand(7); for (i = 0; i < n; i++) printf "%d.%d.%d.%d\n", rand()*256, rand()*256, rand()*256, rand()*256 }' > "$work/addresses"
cat > "$work/peer.js" <<'EOF'
// Best of RUNS passes over the addresses through one memory-mode reader: nanoseconds per lookup.
const [db, list, runs] = process.argv.slice(2);
const qqwry = require('lib-qqwry')(true, db);
const addresses = require('fs').readFileSync(list, 'latin1').split('\n').filter(Boolean);
let best = Infinity, sink = 0;
for (let run = 0; run < Number(runs); ++run) {
    const start = process.hrtime.bigint();
    for (const a of addresses) sink += qqwry.searchIP(a).Country.length;
    best = Math.min(best, Number(process.hrtime.bigint() - start));
}
console.log(Math.round(best / addresses.length), sink > 0 ? '' : 'no places');
EOF

# Both in turn within one run, each the best of its runs, so that the machine's load weighs alike.
best="" peer=""
for run in $(seq "$runs"); do
    start=$(date +%s%N)
    (cd "$(dirname "$db")" && "$tool" --db "./$(basename "$db")" < "$work/addresses" > /dev/null)
    ns=$(( $(date +%s%N) - start ))
    if [ -z "$best" ] || [ "$ns" -lt "$best" ]; then best=$ns; fi
    theirs=$(cd "$work" && node peer.js "$db" "$work/addresses" 3 | cut -d' ' -f1)
    if [ -z "$peer" ] || [ "$theirs" -lt "$peer" ]; then peer=$theirs; fi
done
ours=$((best / count))
echo "ipdb-lookup:           ${ours} ns per lookup (whole process, database opened per lookup, best of $runs)"
echo "lib-qqwry memory mode: ${peer} ns per lookup (inside its process, file loaded, best of $runs x 3)"
echo "ratio:                 $(awk "BEGIN { printf \"%.2f\", $ours / $peer }") (goal: at most 1.5)"
