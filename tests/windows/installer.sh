#!/bin/sh
# The Windows installer under wine, in the namespace network. Its manifest asks no administrator
# rights (asInvoker or highestAvailable). /S installs for the current user into
# %LOCALAPPDATA%\Programs\routetrace with QQWry.dat beside the program, the user's Start menu link and
# Apps & Features entry (name, version, publisher, icon, size, in HKCU); a second install replaces an
# older one. The installed program traces the namespace network and keeps its history beside itself;
# /S uninstall removes the program, its entry and the runtime it unpacked (%TEMP%\Q_N52544331) and
# keeps lsjl.ini. /S /AllUsers installs into Program Files (HKLM); the program there keeps its history
# in %APPDATA%\routetrace (wine has no ACLs: the folder is made immutable instead, as Program Files
# is to a user); a later /S by an administrator updates that install in place rather than adding
# one of the user's own; /S uninstall removes everything but that history. Every wine step has a
# timeout.
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

level=$(grep -a -o 'requestedExecutionLevel level="[A-Za-z]*"' "$setup" | head -n 1)
case $level in
    *'"asInvoker"' | *'"highestAvailable"') echo "manifest: $level" ;;
    *) echo "the installer's manifest asks for administrator rights or nothing: $level"; exit 1 ;;
esac

wine_network_up
w() { in_client timeout 120 wine "$@"; }
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\routetrace'

# installed FOLDER HIVE START_MENU_ROOT: the files, the Start menu link and the uninstall entry.
installed() {
    for f in routetrace.exe routetrace.com QQWry.dat uninstall.exe README.txt LICENSE.txt; do
        [ -f "$1/$f" ] || { echo "not installed: $f"; ls -la "$1"; exit 1; }
    done
    # The AS table goes where it was built, and then the licences name it.
    if [ -f "$1/asn.dat" ]; then
        grep -q RouteViews "$1/LICENSE.txt" || { echo "asn.dat is installed but LICENSE.txt does not name it"; exit 1; }
    fi
    link=$(find "$3" -path '*Start Menu/Programs/routetrace.lnk' | head -n 1)
    [ -n "$link" ] || { echo "no Start menu link in ${3#$WINEPREFIX/}"; exit 1; }
    w reg query "$2\\$key" 2>/dev/null | tr -d '\r' > entry
    for value in "DisplayName.*routetrace" "DisplayVersion.*$version" "Publisher.*Toviq" 'DisplayIcon.*routetrace.exe' \
                 'EstimatedSize.*REG_DWORD' 'UninstallString.*uninstall.exe' 'InstallLocation.*routetrace'; do
        grep -q "$value" entry || { echo "the uninstall entry in $2 lacks $value:"; cat entry; exit 1; }
    done
    echo "installed in ${1#$WINEPREFIX/}; Start menu: ${link#$WINEPREFIX/}; $2 entry: $(grep -c REG_ entry) values"
}

# uninstall FOLDER HIVE: /S, then wait for the copy of the uninstaller that runs on in the
# temporary folder to be done.
uninstall() {
    w "$1/uninstall.exe" /S || { echo "the silent uninstall failed"; exit 1; }
    t=600
    while [ -e "$1/uninstall.exe" ] || w reg query "$2\\$key" >/dev/null 2>&1; do
        t=$((t - 1)); [ $t -gt 0 ] || { echo "left after uninstalling:"; ls -la "$1"; exit 1; }; sleep 0.1
    done
    [ ! -e "$link" ] || { echo "the Start menu link stayed"; exit 1; }
}

# trace PROGRAM: the installed program's report through the namespace network, recorded.
trace() {
    status=0
    (cd "$work" && w "$1" --report 203.0.113.2 --record > report.raw 2> errors) || status=$?
    tr -d '\r' < "$work/report.raw" > "$work/report"
    [ "$status" -eq 0 ] || { echo "the installed program's trace: exit code $status"; cat "$work/report" "$work/errors"; exit 1; }
    cut -f1,2 "$work/report" > "$work/hops"
    printf '1\t192.0.2.2\n2\t198.51.100.2\n3\t198.51.100.6\n4\t203.0.113.2\n' > "$work/expected"
    cmp -s "$work/hops" "$work/expected" || { echo "hops:"; cat "$work/report"; exit 1; }
}

# For the current user, the default: no administrator rights asked, nothing outside the profile.
w "$setup" /S || { echo "the silent install failed"; exit 1; }
users="$WINEPREFIX/drive_c/users"
folder=$(find "$users" -path '*/AppData/Local/Programs/routetrace' -type d | head -n 1)
[ -n "$folder" ] || { echo "not installed into %LOCALAPPDATA%\\Programs\\routetrace"; find "$WINEPREFIX/drive_c" -name routetrace.exe; exit 1; }
[ ! -e "$WINEPREFIX/drive_c/Program Files/routetrace" ] || { echo "a per-user install wrote into Program Files"; exit 1; }
installed "$folder" HKCU "$users"

# Over an older version: what an older install left (its program, its version in the entry) is
# replaced, and one entry stays.
w reg add "HKCU\\$key" /v DisplayVersion /d 1.0.0 /f >/dev/null 2>&1
printf 'older' > "$folder/routetrace.exe"
w "$setup" /S || { echo "installing over an older version failed"; exit 1; }
[ "$(wc -c < "$folder/routetrace.exe")" -gt 5 ] || { echo "the older program stayed"; exit 1; }
w reg query "HKCU\\$key" /v DisplayVersion 2>/dev/null | tr -d '\r' | grep -q "$version" ||
    { echo "the entry kept the older version"; exit 1; }
[ "$(w reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null | grep -ci 'routetrace')" -eq 1 ] ||
    { echo "more than one uninstall entry"; exit 1; }
echo "installed over an older version"

# The user's own folder is the user's to write: the history lies beside the program. The runtime
# it unpacked lies in the user's temporary folder.
trace "$folder/routetrace.exe"
grep -q 203.0.113.2 "$folder/lsjl.ini" || { echo "no history beside the per-user program"; ls -la "$folder"; exit 1; }
runtime=$(find "$users" -type d -name Q_N52544331 | head -n 1)
[ -n "$runtime" ] || { echo "the program unpacked no runtime into %TEMP%\\Q_N52544331"; exit 1; }
uninstall "$folder" HKCU
[ ! -e "$runtime" ] || { echo "the runtime folder stayed: ${runtime#$WINEPREFIX/}"; exit 1; }
[ "$(ls "$folder")" = lsjl.ini ] || { echo "the uninstaller left more, or less, than the history:"; ls -la "$folder"; exit 1; }
echo "traced; uninstalled the per-user copy: the runtime folder is gone, lsjl.ini stays"

# For all users, when asked: Program Files, HKLM.
w "$setup" /S /AllUsers || { echo "the silent install for all users failed"; exit 1; }
folder="$WINEPREFIX/drive_c/Program Files/routetrace"
installed "$folder" HKLM "$WINEPREFIX/drive_c/ProgramData"
# A later /S by an administrator updates that install where it is, rather than adding a second
# copy of the user's own.
w "$setup" /S || { echo "installing over the copy for all users failed"; exit 1; }
[ -f "$folder/routetrace.exe" ] && [ -z "$(find "$users" -path '*/Programs/routetrace/routetrace.exe')" ] &&
    ! w reg query "HKCU\\$key" >/dev/null 2>&1 || { echo "a second install beside the one for all users"; exit 1; }
chattr +i "$folder" || { echo "skipped: the install folder cannot be made immutable"; exit 77; }
trace "C:\\Program Files\\routetrace\\routetrace.exe"
history=$(find "$users" -path '*/routetrace/lsjl.ini' ! -path '*/Programs/*' | head -n 1)
[ -n "$history" ] && grep -q 203.0.113.2 "$history" || { echo "no history in %APPDATA%\\routetrace"; exit 1; }
echo "traced; history in ${history#$WINEPREFIX/}"
chattr -i "$folder"
uninstall "$folder" HKLM
[ ! -e "$folder" ] || { echo "left after uninstalling:"; ls -la "$folder"; exit 1; }
[ -f "$history" ] || { echo "the uninstaller removed the history"; exit 1; }
echo "uninstalled the copy for all users; the history stays"
