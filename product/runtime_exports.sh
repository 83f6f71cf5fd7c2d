#!/bin/sh
# Writes what the runtime library exports: a version script (OUTPUT) with its two entry points and
# the symbols the window's module takes from it (those the module needs without a version: a system
# library's carry one), everything else local; and a linker script (OUTPUT.ld) that names the same
# symbols as needed, so that the archives' members defining them are linked even where nothing else
# in the runtime uses them. usage: runtime_exports.sh NM MODULE OUTPUT
set -eu
nm=$1 module=$2 output=$3
"$nm" -D --undefined-only "$module" | awk '$1 == "U" && $2 !~ /@/ { print $2 }' >"$output.symbols"
{
    echo "{ global: GetNewSock; RuntimeEntry;"
    sed 's/.*/  &;/' "$output.symbols"
    echo "local: *; };"
} >"$output.part"
{
    echo "EXTERN("
    cat "$output.symbols"
    echo ")"
} >"$output.ld"
rm "$output.symbols"
mv "$output.part" "$output"
