#!/bin/sh
# Starts the launcher executable (with a fake core DLL in its payload) under wine: the DLL's entry
# must get the 32-bit image, whose header it reports, and the program must end with exit code 0.
# usage: startup.sh EXE
set -eu
exe=$1
report=$(mktemp)
trap 'rm -f "$report"' EXIT
FAKE_RTCORE_REPORT=$(winepath -w "$report") wine "$exe"
echo "exit code 0; the entry reported: $(cat "$report")"
grep -q "dll_count=14 field34=0x1014F" "$report"
