#!/bin/sh
# The installer speaks its user's language: on a system whose locale is Simplified Chinese its
# caption and pages are Chinese (the welcome page, the licence page with the place data's
# attribution, the choice of for whom with the current user chosen), elsewhere English. The locale
# is generated into the test's own folder (LOCPATH), so the machine's locales stay as they are. The
# uninstaller's wizard deletes the history only when its box is ticked. Under wine and Xvfb, with a prefix of the test's own.
# usage: installer_language.sh TOPOLOGY_SCRIPT SETUP_EXE VERSION   (exit 77: skipped)
# Environment: PROBE (tests/windows/window_probe.exe).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
topology=$1 setup=$2 version=$3
[ -f "$setup" ] || { echo "skipped: no installer at $setup (scripts/package-windows builds it)"; exit 77; }
[ -n "${PROBE:-}" ] || { echo "skipped: no window probe (PROBE)"; exit 77; }
for tool in Xvfb localedef; do
    command -v $tool >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
. "$here/wine_network.sh"
xvfb="" installer=""
cleanup() {
    [ -z "$installer" ] || kill "$installer" 2>/dev/null || true
    wine_network_down
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=:$((500 + $$ % 200))
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
mkdir -p "$work/locale"
localedef -i zh_CN -f UTF-8 "$work/locale/zh_CN.UTF-8" 2>/dev/null ||
    { echo "skipped: the zh_CN.UTF-8 locale cannot be generated (locales package)"; exit 77; }
wine_network_up
probe() { in_client timeout 60 wine "$PROBE" "$@" | tr -d '\r'; }

# The wizard's window, once it shows; its texts in the file named.
wizard_texts() {
    t=300
    until probe dialog > "$1" 2>/dev/null && grep -q routetrace "$1"; do
        t=$((t - 1)); [ $t -gt 0 ] || { echo "no installer window"; cat "$1"; exit 1; }; sleep 0.2
    done
}
fail=0
expect() { grep -qF -- "$2" "$1" || { echo "$3: no \"$2\" in:"; cat "$1"; fail=1; }; }

# locale | caption | a text of the welcome page | the licence page's title | the current user's choice
while IFS='|' read -r locale caption welcome licence mode; do
    in_client env LOCPATH="$work/locale" LANG="$locale" LC_ALL="$locale" timeout 120 wine "$setup" >/dev/null 2>&1 &
    installer=$!
    wizard_texts "$work/welcome"
    expect "$work/welcome" "$caption" "$locale caption"
    expect "$work/welcome" "$welcome" "$locale welcome page"
    probe next >/dev/null
    t=100
    until probe dialog > "$work/licence" 2>/dev/null && grep -qF "$licence" "$work/licence"; do
        t=$((t - 1)); [ $t -gt 0 ] || break; sleep 0.2
    done
    expect "$work/licence" "$licence" "$locale licence page"
    expect "$work/licence" "QQWry.dat" "$locale licence text"
    # Past the licence, for whom: the current user is chosen unless the user chooses otherwise.
    probe next >/dev/null
    t=100
    until probe dialog > "$work/mode" 2>/dev/null && grep -qF "$mode" "$work/mode"; do
        t=$((t - 1)); [ $t -gt 0 ] || break; sleep 0.2
    done
    expect "$work/mode" "[x] $mode" "$locale: for whom"
    head -n 1 "$work/welcome"
    in_client wine taskkill /f /im "$(basename "$setup")" >/dev/null 2>&1 || true
    wait "$installer" 2>/dev/null || true
    installer=""
done <<EOT
zh_CN.UTF-8|routetrace $version 安装|欢迎使用|许可证协议|只为我自己安装
C.UTF-8|routetrace $version Setup|Welcome to|License Agreement|Install just for me
EOT

# The uninstaller's wizard deletes the history only with its box ticked: installed for the current
# user with a history beside the program, uninstalled with "Delete the target history" ticked, the
# folder goes with it. (/S, which never ticks it, keeps the history: installer.sh.)
in_client env LANG=C.UTF-8 LC_ALL=C.UTF-8 timeout 120 wine "$setup" /S || { echo "the silent install failed"; exit 1; }
folder=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Programs/routetrace' -type d | head -n 1)
[ -n "$folder" ] && printf '[History]\r\n' > "$folder/lsjl.ini" || { echo "not installed"; exit 1; }
in_client env LANG=C.UTF-8 LC_ALL=C.UTF-8 timeout 120 wine "$folder/uninstall.exe" >/dev/null 2>&1 &
installer=$!
wizard_texts "$work/confirm"
probe next >/dev/null
t=100
until probe dialog > "$work/components" 2>/dev/null && grep -q 'Delete the target history' "$work/components"; do
    t=$((t - 1)); [ $t -gt 0 ] || break; sleep 0.2
done
probe tick 1 >/dev/null || { echo "the history's box could not be ticked"; fail=1; }
probe next >/dev/null
t=300
while [ -e "$folder" ]; do
    t=$((t - 1)); [ $t -gt 0 ] || { echo "the history stayed with its box ticked:"; ls -la "$folder"; fail=1; break; }; sleep 0.2
done
[ $fail -ne 0 ] || echo "uninstalled with the history's box ticked: the folder and lsjl.ini are gone"
exit $fail
