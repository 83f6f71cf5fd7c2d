// echo_sniffer SECONDS [COUNT [out]]: prints "TTL DATASIZE" for every ICMP echo request that arrives at
// this network namespace's interfaces (forwarded ones included) during SECONDS, one line each as it
// comes; with COUNT (-1: any number), it ends after that many. With "out", the requests this
// namespace sends instead: each is queued for the sniffer as it leaves, so a SIGUSR1 then prints
// every request sent before it, then "mark" (a test tells what a program had sent by a moment it saw).
// Run in the first router's namespace, it shows what a client put on the wire. It says "listening" on
// standard error once it is.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

volatile std::sig_atomic_t g_marked = 0;

void Mark(int) { g_marked = 1; }

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 4) return 2;
    long count = argc >= 3 ? std::atol(argv[2]) : -1;
    bool outgoing = argc == 4 && std::strcmp(argv[3], "out") == 0;
    // Every protocol: a packet that leaves is shown only to such sockets; IP is picked out below.
    int fd = ::socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_ALL));
    if (fd < 0) return 1;
    timeval tick{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    struct sigaction mark {};
    mark.sa_handler = Mark; // without SA_RESTART: a wait for a packet ends at the signal
    ::sigaction(SIGUSR1, &mark, nullptr);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::fputs("listening\n", stderr); // from here on nothing that arrives is missed
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[1]));
    unsigned char packet[70000];
    while (count != 0 && std::chrono::steady_clock::now() < end) {
        bool marking = g_marked;
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        ssize_t n = ::recvfrom(fd, packet, sizeof packet, marking ? MSG_DONTWAIT : 0,
                               reinterpret_cast<sockaddr *>(&from), &length);
        if (n < 0 && marking) { // everything queued before the signal is printed
            g_marked = 0;
            std::puts("mark");
            continue;
        }
        if (n < 28 || from.sll_protocol != htons(ETH_P_IP) || (from.sll_pkttype == PACKET_OUTGOING) != outgoing)
            continue;
        size_t header = size_t(packet[0] & 15) * 4;
        if (packet[9] != IPPROTO_ICMP || size_t(n) < header + 8 || packet[header] != 8) continue;
        std::printf("%u %zu\n", packet[8], size_t(n) - header - 8);
        if (count > 0) --count;
    }
    return 0;
}
