# Sourced by the Windows network tests: the namespace network of topology.sh, and a wine session in
# its client namespace with a prefix of the test's own (wine's probes leave from where its server
# started). The caller sets `here` (its own folder) and `topology`; this sets `p`, `work` and
# `in_client`. Skips (exit 77) without root or wine.
[ "$(id -u)" -eq 0 ] || { echo "skipped: network namespaces need root"; exit 77; }
command -v wine >/dev/null 2>&1 || { echo "skipped: wine is not installed"; exit 77; }
p=rtw$$
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
in_client() { ip netns exec "$p-client" "$@"; }

# wine_network_up: the network, then the wine session in the client (DISPLAY as the caller set it).
wine_network_up() {
    sh "$topology" up "$p"
    in_client "$here/../../scripts/wine-session" 120
    in_client timeout 60 wine cmd.exe /c exit >/dev/null 2>&1 ||
        { echo "skipped: wine cannot run 32-bit programs here (wine32 is missing or broken)"; exit 77; }
}

# wine_network_down: the wine session, the network and the scratch folder go.
wine_network_down() {
    in_client wineserver -k 2>/dev/null || true
    sh "$topology" down "$p" 2>/dev/null || true
    rm -rf "$work"
}
