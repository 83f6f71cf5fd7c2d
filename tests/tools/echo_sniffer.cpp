// echo_sniffer SECONDS [COUNT]: prints "TTL DATASIZE" for every ICMP echo request that arrives at
// this network namespace's interfaces (forwarded ones included) during SECONDS, one line each as it
// comes; with COUNT, it ends after that many.
// Run in the first router's namespace, it shows what a client put on the wire. It says "listening" on
// standard error once it is.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc != 2 && argc != 3) return 2;
    long count = argc == 3 ? std::atol(argv[2]) : -1;
    int fd = ::socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
    if (fd < 0) return 1;
    timeval tick{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::fputs("listening\n", stderr); // from here on nothing that arrives is missed
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[1]));
    unsigned char packet[70000];
    while (count != 0 && std::chrono::steady_clock::now() < end) {
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        ssize_t n = ::recvfrom(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (n < 28 || from.sll_pkttype == PACKET_OUTGOING) continue;
        size_t header = size_t(packet[0] & 15) * 4;
        if (packet[9] != IPPROTO_ICMP || size_t(n) < header + 8 || packet[header] != 8) continue;
        std::printf("%u %zu\n", packet[8], size_t(n) - header - 8);
        if (count > 0) --count;
    }
    return 0;
}
