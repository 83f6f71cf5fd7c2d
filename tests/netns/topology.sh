#!/bin/sh
# A test network of five namespaces on the documentation ranges only:
#
#   client 192.0.2.1 -- 192.0.2.2 r1 198.51.100.1 -- 198.51.100.2 r2 198.51.100.5
#          -- 198.51.100.6 r3 203.0.113.1 -- 203.0.113.2 target
#
# usage: topology.sh up PREFIX | down PREFIX | drop-time-exceeded PREFIX ROUTER
#        | restore-time-exceeded PREFIX ROUTER | silence PREFIX NODE
#        | rate-limit PREFIX ROUTER | no-rate-limit PREFIX ROUTER | two-paths PREFIX | one-path PREFIX
# Namespaces are named PREFIX-client, PREFIX-r1 ... PREFIX-target. The client's hosts file
# (/etc/netns/PREFIX-client/hosts) names the target "target.test".
set -eu
cmd=$1
p=$2
run() { n=$1; shift; ip netns exec "$p-$n" "$@"; }

link() { # link A IFA ADDR_A B IFB ADDR_B
    ip link add "$2" netns "$p-$1" type veth peer name "$5" netns "$p-$4"
    run "$1" ip addr add "$3" dev "$2"
    run "$4" ip addr add "$6" dev "$5"
    run "$1" ip link set "$2" up
    run "$4" ip link set "$5" up
}

case "$cmd" in
up)
    for n in client r1 r2 r3 target; do
        ip netns add "$p-$n"
        run "$n" ip link set lo up
        # Let any group open unprivileged ICMP sockets here, for the datagram socket tests.
        run "$n" sysctl -qw net.ipv4.ping_group_range="0 2147483647"
    done
    for r in r1 r2 r3; do
        run "$r" sysctl -qw net.ipv4.ip_forward=1
        # Linux answers a burst, then one Time Exceeded a second per destination; tests and
        # benchmarks trace again and again, so the routers answer every probe.
        run "$r" sysctl -qw net.ipv4.icmp_ratelimit=0
    done
    link client c0 192.0.2.1/30 r1 a0 192.0.2.2/30
    link r1 b0 198.51.100.1/30 r2 a0 198.51.100.2/30
    link r2 b0 198.51.100.5/30 r3 a0 198.51.100.6/30
    link r3 b0 203.0.113.1/30 target a0 203.0.113.2/30
    run client ip route add default via 192.0.2.2
    run r1 ip route add 198.51.100.4/30 via 198.51.100.2
    run r1 ip route add 203.0.113.0/30 via 198.51.100.2
    run r2 ip route add 192.0.2.0/30 via 198.51.100.1
    run r2 ip route add 203.0.113.0/30 via 198.51.100.6
    run r3 ip route add default via 198.51.100.5
    run target ip route add default via 203.0.113.1
    mkdir -p "/etc/netns/$p-client"
    printf '127.0.0.1 localhost\n203.0.113.2 target.test\n' > "/etc/netns/$p-client/hosts"
    # Other names are asked of loopback only: no query leaves for the machine's own nameservers.
    printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' > "/etc/netns/$p-client/resolv.conf"
    ;;
drop-time-exceeded)
    # Traffic the router sends itself is routed as coming in on lo; a blackhole route toward the
    # client for that traffic alone drops its Time Exceeded while forwarded traffic passes as before.
    r=$3
    run "$r" ip route add blackhole 192.0.2.0/30 table 100
    run "$r" ip rule add iif lo table 100 priority 100
    ;;
restore-time-exceeded)
    r=$3
    run "$r" ip rule del iif lo table 100 priority 100
    run "$r" ip route del blackhole 192.0.2.0/30 table 100
    ;;
rate-limit)
    # As many routers on the Internet do: after a burst, one Time Exceeded in two seconds toward
    # each address, so that a router traced round after round loses most of its answers.
    run "$3" sysctl -qw net.ipv4.icmp_ratelimit=2000
    ;;
no-rate-limit)
    run "$3" sysctl -qw net.ipv4.icmp_ratelimit=0
    ;;
two-paths)
    # A load-balanced hop: r1 reaches r2 over a second link too (198.51.100.9 -- 198.51.100.10) and
    # sends every other probe whose time-to-live runs out at r2 across it (an nftables counter
    # marks them, a rule routes the marked ones); r2 answers from the address the probe came in on.
    link r1 b1 198.51.100.9/30 r2 a1 198.51.100.10/30
    run r2 sysctl -qw net.ipv4.icmp_errors_use_inbound_ifaddr=1
    run r2 sysctl -qw net.ipv4.conf.all.rp_filter=0
    run r2 sysctl -qw net.ipv4.conf.a1.rp_filter=0
    run r1 ip route add 203.0.113.0/30 via 198.51.100.10 table 101
    run r1 ip rule add fwmark 1 table 101 priority 101
    printf '%s\n' 'table ip twopaths {' ' chain prerouting {' \
        '  type filter hook prerouting priority mangle; policy accept;' \
        '  ip protocol icmp ip ttl 2 meta mark set numgen inc mod 2' ' }' '}' | run r1 nft -f -
    ;;
one-path)
    run r1 nft delete table ip twopaths || true
    run r1 ip rule del fwmark 1 table 101 priority 101 || true
    run r1 ip route flush table 101 || true
    run r1 ip link del b1 || true
    run r2 sysctl -qw net.ipv4.icmp_errors_use_inbound_ifaddr=0
    ;;
silence)
    # The node answers no echo request.
    run "$3" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
    ;;
down)
    for n in client r1 r2 r3 target; do ip netns del "$p-$n" 2>/dev/null || true; done
    rm -rf "/etc/netns/$p-client"
    ;;
*)
    echo "usage: $0 up|down|drop-time-exceeded|restore-time-exceeded|silence|rate-limit|no-rate-limit|two-paths|one-path PREFIX [NODE]" >&2
    exit 2
    ;;
esac
