// Any bytes as a packet from a raw ICMP socket, a datagram reply, or a quoted request.
#include <cstdint>

#include "formats/packet/icmp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    const rt::icmp::EchoRequest request{0x027100CB, 0x1234, 7, {}};
    if (auto a = rt::icmp::MatchRawPacket(bytes, request)) {
        if (a->data.size() && (a->data.data() < data || a->data.data() + a->data.size() > data + size))
            __builtin_trap(); // echoed data must lie inside the packet
    }
    (void)rt::icmp::MatchDatagramReply(bytes, 0x027100CB, request);
    (void)rt::icmp::MatchDatagramError(11, 0, 1, 0x027100CB, bytes, request);
    return 0;
}
