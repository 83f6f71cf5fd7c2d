#!/bin/sh
# The shipped executables as a careful user checks them: each PE header's checksum is the one its
# bytes give, as Windows computes it (CHECKSUM_PROBE, under wine), the appended payload included;
# and no compiler version string ("GCC: ...") is in the program, its console companion or the
# runtime DLL the program unpacks.
# usage: clean_executables.sh CHECKSUM_PROBE ROUTETRACE_EXE ROUTETRACE_COM PACKED_RTCORE
set -eu
probe=$1 exe=$2 com=$3 rtcore=$4
fail=0
for f in "$exe" "$com" "$rtcore"; do
    n=$(grep -a -c 'GCC: ' "$f" || true)
    [ "$n" -eq 0 ] || { echo "$(basename "$f"): $n compiler version strings"; fail=1; }
done
# Windows paths for wine: the files' own folders are reachable as Z:.
sums=$(timeout 120 wine "$probe" "Z:$exe" "Z:$com" | tr -d '\r')
echo "$sums"
[ "$(printf '%s\n' "$sums" | wc -l)" -eq 2 ] || { echo "not every file was read"; exit 1; }
printf '%s\n' "$sums" | while read -r stored computed path; do
    [ "$stored" != 00000000 ] || { echo "no checksum in $path"; exit 1; }
    [ "$stored" = "$computed" ] || { echo "stale checksum in $path"; exit 1; }
done || fail=1
[ $fail -eq 0 ] && echo "checksums match their bytes; no compiler version strings"
exit $fail
