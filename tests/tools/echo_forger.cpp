// echo_forger DEST SEQUENCE SIZE SECONDS: sends echo replies to DEST from this namespace's own
// address, with every identifier in turn, the given sequence number and SIZE bytes of "a", again and
// again for SECONDS. What a blind forger does who knows everything but the identifier.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "formats/packet/icmp_packet.h"

int main(int argc, char **argv) {
    if (argc != 5) return 2;
    int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) return 1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (::inet_pton(AF_INET, argv[1], &to.sin_addr) != 1) return 2;
    auto sequence = uint16_t(std::atoi(argv[2]));
    std::vector<uint8_t> data(size_t(std::atoi(argv[3])), 'a');
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[4]));
    while (std::chrono::steady_clock::now() < end) {
        for (uint32_t id = 0; id <= 0xFFFF; ++id) {
            std::vector<uint8_t> m =
                rt::win32::BuildEchoRequest({to.sin_addr.s_addr, uint16_t(id), sequence, {}}, data);
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
