#!/bin/sh
# routetrace.exe as Windows shows it: the emblem as its icon at 16, 32, 48 and 256 pixels, its
# version information, a manifest (common controls 6, per-monitor DPI awareness v2 and the older
# declaration, Windows 7 to 11, asInvoker), and no debugging sections.
# usage: resources.sh ROUTETRACE_EXE VERSION WINDRES OBJDUMP
set -eu
exe=$1 version=$2 windres=$3 objdump=$4
rc=$(mktemp)
trap 'rm -f "$rc"' EXIT
"$windres" -i "$exe" -O rc > "$rc"
fail=0
need() { grep -q -- "$1" "$rc" || { echo "missing: $2"; fail=1; }; }
need 'Has 4 elements' 'four icon images'
for size in '\\020\\020' '\\040\\040' '\\060\\060' '\\000\\000'; do need "\"$size\\\\000\\\\000\", 1, 32" "a 32-bit icon image ($size)"; done
for field in FileDescription ProductName LegalCopyright; do need "VALUE \"$field\", \"[^\"]" "$field"; done
need "VALUE \"FileVersion\", \"$version\"" "FileVersion $version"
need "VALUE \"ProductVersion\", \"$version\"" "ProductVersion $version"
need 'RT_MANIFEST' 'a manifest'
need 'Microsoft.Windows.Common-Controls"" version=""6.0.0.0' 'common controls 6'
need '>PerMonitorV2' 'per-monitor DPI awareness v2'
need '<dpiAware [^>]*>true/pm<' 'the older DPI declaration'
need 'requestedExecutionLevel level=""asInvoker""' 'asInvoker'
for os in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
          1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    need "supportedOS Id=\"\"{$os}" "supportedOS $os"
done
if "$objdump" -h "$exe" | grep -q '\.debug'; then echo "debugging sections are shipped"; fail=1; fi
[ $fail -eq 0 ] && echo "icon, version $version, manifest; stripped ($(wc -c < "$exe") bytes)"
exit $fail
