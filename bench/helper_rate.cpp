// helper_rate HELPER SECONDS: drives the ICMP helper as hard as a caller can, from the network
// namespace it runs in, toward 203.0.113.2 (silent in bench/helper_rate.sh's network): always
// kEchoServiceMaxOutstanding requests outstanding, each waiting 1 ms, a new one as soon as one is
// answered. Counts the echo requests that leave this namespace (a packet socket sees them go) and
// prints their rate against the helper's bound.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "formats/packet/echo_service.h"
#include "formats/packet/icmp_packet.h"

namespace w = rt::icmp;

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    double seconds = std::atof(argv[2]);
    // Only a socket of every protocol sees what leaves as well as what comes.
    int wire = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK, htons(ETH_P_ALL));
    int pair[2];
    if (wire < 0 || ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return 1;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    char *helperArgv[] = {argv[1], nullptr};
    char *envp[] = {nullptr};
    pid_t pid;
    if (::posix_spawn(&pid, argv[1], &actions, nullptr, helperArgv, envp) != 0) return 1;
    ::close(pair[1]);
    uint8_t record[64];
    if (::recv(pair[0], record, sizeof record, 0) != ssize_t(w::kEchoResponseRecordSize)) return 1; // ready

    uint32_t target = inet_addr("203.0.113.2");
    uint8_t request[w::kEchoRequestRecordSize];
    w::EncodeEchoRequest({target, 1, 32, 64, 0, 0}, request);
    for (size_t i = 0; i < w::kEchoServiceMaxOutstanding; ++i) ::send(pair[0], request, sizeof request, 0);
    uint32_t answered = 0, onWire = 0, refused = 0;
    uint8_t packet[2048];
    auto start = std::chrono::steady_clock::now();
    auto end = start + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p[2] = {{pair[0], POLLIN, 0}, {wire, POLLIN, 0}};
        if (::poll(p, 2, 100) <= 0) continue;
        if (p[0].revents & POLLIN) {
            ssize_t n = ::recv(pair[0], record, sizeof record, 0);
            auto response = n > 0 ? w::DecodeEchoResponse({record, size_t(n)}) : std::nullopt;
            if (!response) break;
            ++answered;
            if (response->status == w::kIpGeneralFailure) ++refused;
            ::send(pair[0], request, sizeof request, 0);
        }
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        ssize_t n;
        while ((n = ::recvfrom(wire, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&from), &length)) > 0) {
            size_t header = size_t(packet[0] & 15) * 4;
            if (from.sll_pkttype == PACKET_OUTGOING && from.sll_protocol == htons(ETH_P_IP) && n >= 28 &&
                packet[9] == IPPROTO_ICMP && size_t(n) > header && packet[header] == 8)
                ++onWire;
            length = sizeof from;
        }
    }
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(pair[0]);
    ::waitpid(pid, nullptr, 0);
    double bound = 1000.0 / w::kEchoServiceIntervalMs;
    double allowed = w::kEchoServiceBurst + bound * took;
    std::printf("requests answered:         %u (%u refused)\n", answered, refused);
    std::printf("echo requests on the wire: %u in %.2f s = %.0f/s (bound: %.0f/s after a burst of %u)\n", onWire, took,
                double(onWire) / took, bound, w::kEchoServiceBurst);
    std::printf("within the bound:          %s (at most %.0f in that time)\n", double(onWire) <= allowed ? "yes" : "NO",
                allowed);
    return double(onWire) <= allowed ? 0 : 1;
}
