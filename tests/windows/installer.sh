#!/bin/sh
# The Windows installer under wine, in the namespace network: /S installs into Program Files with
# QQWry.dat beside the program, the Start menu link and the Apps & Features entry (name, version,
# publisher, icon, size) exist; a second install replaces an older one; the installed program
# traces the namespace network and, as its folder is not the user's to write, keeps its history in
# %APPDATA%\routetrace (wine has no ACLs: the folder is made immutable instead, as Program Files is
# to a user); /S uninstall removes everything but that history. Every wine step has a timeout.
# usage: installer.sh TOPOLOGY_SCRIPT SETUP_EXE VERSION   (exit 77: skipped)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
topology=$1 setup=$2 version=$3
[ -f "$setup" ] || { echo "skipped: no installer at $setup (scripts/package-windows builds it)"; exit 77; }
. "$here/wine_network.sh"
folder=""
cleanup() {
    [ -z "$folder" ] || chattr -i "$folder" 2>/dev/null || true
    wine_network_down
}
trap cleanup EXIT
wine_network_up
w() { in_client timeout 120 wine "$@"; }
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\routetrace'

w "$setup" /S || { echo "the silent install failed"; exit 1; }
folder="$WINEPREFIX/drive_c/Program Files/routetrace"
for f in routetrace.exe routetrace.com QQWry.dat uninstall.exe README.txt LICENSE.txt; do
    [ -f "$folder/$f" ] || { echo "not installed: $f"; ls -la "$folder"; exit 1; }
done
link=$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/routetrace.lnk' | head -n 1)
[ -n "$link" ] || { echo "no Start menu link"; exit 1; }
w reg query "$key" 2>/dev/null | tr -d '\r' > entry
for value in "DisplayName.*routetrace" "DisplayVersion.*$version" "Publisher.*Toviq" 'DisplayIcon.*routetrace.exe' \
             'EstimatedSize.*REG_DWORD' 'UninstallString.*uninstall.exe'; do
    grep -q "$value" entry || { echo "the uninstall entry lacks $value:"; cat entry; exit 1; }
done
echo "installed; Start menu: ${link#$WINEPREFIX/}; uninstall entry: $(grep -c REG_ entry) values"

# Over an older version: what an older install left (its program, its version in the entry) is
# replaced, and one entry stays.
w reg add "$key" /v DisplayVersion /d 1.0.0 /f >/dev/null 2>&1
printf 'older' > "$folder/routetrace.exe"
w "$setup" /S || { echo "installing over an older version failed"; exit 1; }
[ "$(wc -c < "$folder/routetrace.exe")" -gt 5 ] || { echo "the older program stayed"; exit 1; }
w reg query "$key" /v DisplayVersion 2>/dev/null | tr -d '\r' | grep -q "$version" ||
    { echo "the entry kept the older version"; w reg query "$key"; exit 1; }
[ "$(w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null | grep -ci 'routetrace')" -eq 1 ] ||
    { echo "more than one uninstall entry"; exit 1; }
echo "installed over an older version"

chattr +i "$folder" || { echo "skipped: the install folder cannot be made immutable"; exit 77; }
cd "$work"
status=0
w "C:\\Program Files\\routetrace\\routetrace.exe" --report 203.0.113.2 --record > report.raw 2> errors || status=$?
tr -d '\r' < report.raw > report
[ "$status" -eq 0 ] || { echo "the installed program's trace: exit code $status"; cat report errors; exit 1; }
cut -f1,2 report > hops
printf '1\t192.0.2.2\n2\t198.51.100.2\n3\t198.51.100.6\n4\t203.0.113.2\n' > expected
cmp -s hops expected || { echo "hops:"; cat report; exit 1; }
history=$(find "$WINEPREFIX/drive_c/users" -path '*/routetrace/lsjl.ini' | head -n 1)
[ -n "$history" ] && grep -q 203.0.113.2 "$history" || { echo "no history in %APPDATA%\\routetrace"; exit 1; }
echo "traced; history in ${history#$WINEPREFIX/}"
chattr -i "$folder"

w "$folder/uninstall.exe" /S || { echo "the silent uninstall failed"; exit 1; }
# The uninstaller runs on from a copy of itself in the temporary folder: wait until it is done.
gone() { [ ! -e "$folder" ] && ! w reg query "$key" >/dev/null 2>&1; }
t=600
while ! gone; do t=$((t - 1)); [ $t -gt 0 ] || { echo "left after uninstalling:"; ls -la "$folder"; exit 1; }; sleep 0.1; done
[ ! -e "$link" ] || { echo "the Start menu link stayed"; exit 1; }
[ -f "$history" ] || { echo "the uninstaller removed the history"; exit 1; }
echo "uninstalled; the history stays"
