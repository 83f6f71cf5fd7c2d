// echo_forger DEST SEQUENCE SIZE SECONDS: sends echo replies to DEST from this namespace's own
// address, with every identifier in turn, the given sequence number and SIZE bytes of "a", again and
// again for SECONDS. What a blind forger does who knows everything but the identifier.
//
// echo_forger neighbours COUNT SECONDS: for each of the first COUNT echo requests that reach this
// namespace (within SECONDS), sends their sender a Time Exceeded from this namespace's address that
// quotes the request with its sequence number minus one and plus one: what a node on the path does
// that saw one probe and guesses the others of the trace from it. Says "listening" on standard error
// once it is, and "seen ID SEQUENCE" for each request it answered so.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/packet/icmp_packet.h"

namespace {

void SetChecksum(std::vector<uint8_t> &m) {
    m[2] = m[3] = 0;
    uint16_t sum = rt::icmp::InternetChecksum(m);
    m[2] = uint8_t(sum >> 8);
    m[3] = uint8_t(sum);
}

int Neighbours(int fd, int count, int seconds) {
    std::fputs("listening\n", stderr);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    uint8_t packet[65536];
    while (count > 0 && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) != 1) continue;
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t n = ::recvfrom(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (n < 28) continue;
        size_t header = size_t(packet[0] & 15) * 4;
        if (size_t(n) < header + 8 || packet[header] != 8) continue; // echo requests only
        unsigned id = unsigned(packet[header + 4] << 8 | packet[header + 5]);
        unsigned sequence = unsigned(packet[header + 6] << 8 | packet[header + 7]);
        std::printf("seen %u %u\n", id, sequence);
        std::fflush(stdout);
        for (int delta : {-1, 1}) {
            // Type 11, code 0, then the request's IP header and ICMP message as a router quotes them.
            std::vector<uint8_t> m(8);
            m[0] = 11;
            m.insert(m.end(), packet, packet + n);
            uint16_t guess = uint16_t(int(sequence) + delta);
            m[8 + header + 6] = uint8_t(guess >> 8);
            m[8 + header + 7] = uint8_t(guess);
            SetChecksum(m);
            ::sendto(fd, m.data(), m.size(), 0, reinterpret_cast<sockaddr *>(&from), sizeof from);
        }
        --count;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) return 1;
    if (argc == 4 && std::strcmp(argv[1], "neighbours") == 0)
        return Neighbours(fd, std::atoi(argv[2]), std::atoi(argv[3]));
    if (argc != 5) return 2;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (::inet_pton(AF_INET, argv[1], &to.sin_addr) != 1) return 2;
    auto sequence = uint16_t(std::atoi(argv[2]));
    std::vector<uint8_t> data(size_t(std::atoi(argv[3])), 'a');
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[4]));
    while (std::chrono::steady_clock::now() < end) {
        for (uint32_t id = 0; id <= 0xFFFF; ++id) {
            std::vector<uint8_t> m = rt::icmp::BuildEchoRequest({to.sin_addr.s_addr, uint16_t(id), sequence, {}}, data);
            m[0] = 0; // an echo reply: the checksum drops by 0x0800
            uint32_t sum = uint32_t(m[2] << 8 | m[3]) + 0x0800;
            sum = (sum & 0xFFFF) + (sum >> 16);
            m[2] = uint8_t(sum >> 8);
            m[3] = uint8_t(sum);
            ::sendto(fd, m.data(), m.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        }
    }
    return 0;
}
