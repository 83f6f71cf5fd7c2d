#!/bin/sh
# scripts/test-windows on a machine that runs no 32-bit programs: a wine first on PATH fails as such
# a kernel does. It must skip (exit 2) with the reason, at once, before it needs a build.
# usage: windows_skip.sh ROOT
set -u
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
for tool in wine wineserver; do
    printf '#!/bin/sh\necho "/usr/bin/%s: exec: /usr/lib/wine/%s: Exec format error" >&2\nexit 126\n' "$tool" "$tool" > "$fake/$tool"
    chmod +x "$fake/$tool"
done
said=$(PATH="$fake:$PATH" timeout 60 "$1/scripts/test-windows" "$fake/no-build" 2>&1)
code=$?
[ "$code" -eq 2 ] || { echo "exit code $code, expected 2: $said"; exit 1; }
case $said in
    *"this machine runs no 32-bit programs"*"Exec format error"*) echo "$said" ;;
    *) echo "no reason given: $said"; exit 1 ;;
esac
