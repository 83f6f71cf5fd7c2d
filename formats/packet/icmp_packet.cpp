#include "icmp_packet.h"

#include <algorithm>

#include "formats/byte_reader.h"

namespace rt::icmp {
namespace {

// ICMP types and the offsets of the fields we read.
constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kDestinationUnreachable = 3;
constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kTimeExceeded = 11;
constexpr size_t kIcmpHeader = kIcmpHeaderSize;
constexpr size_t kIcmpIdentifier = 4;
constexpr size_t kIcmpSequence = 6;
constexpr size_t kIpMinHeader = 20;
constexpr size_t kIpTos = 1;
constexpr size_t kIpTtl = 8;
constexpr size_t kIpProtocol = 9;
constexpr size_t kIpSource = 12;
constexpr size_t kIpDestination = 16;
constexpr uint8_t kProtocolIcmp = 1;

// The IPv4 header length of the packet, when it is a well-formed IPv4 header inside the bytes.
std::optional<size_t> IpHeaderLength(const ByteReader &ip) {
    auto first = ip.u8(0);
    if (!first || (*first >> 4) != 4) return std::nullopt;
    size_t length = size_t(*first & 0x0F) * 4;
    if (length < kIpMinHeader || !ip.has(0, length)) return std::nullopt;
    return length;
}

// Whether an ICMP message (from its type on) is our echo request: both the identifier and the
// sequence number, which together are 32 bits nobody else can predict.
bool IsOurRequest(const ByteReader &icmp, const EchoRequest &request) {
    auto type = icmp.u8(0);
    auto id = icmp.u16be(kIcmpIdentifier);
    auto seq = icmp.u16be(kIcmpSequence);
    return type && id && seq && *type == kEchoRequest && *seq == request.sequence && *id == request.identifier;
}

} // namespace

uint16_t InternetChecksum(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) sum += uint32_t(bytes[i] << 8 | bytes[i + 1]);
    if (i < bytes.size()) sum += uint32_t(bytes[i] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

size_t WriteEchoRequest(const EchoRequest &request, std::span<const uint8_t> data, std::span<uint8_t> out) {
    if (out.size() < kIcmpHeader || data.size() > out.size() - kIcmpHeader) return 0;
    std::span<uint8_t> m = out.first(kIcmpHeader + data.size());
    m[0] = kEchoRequest;
    m[1] = m[2] = m[3] = 0;
    m[4] = uint8_t(request.identifier >> 8);
    m[5] = uint8_t(request.identifier);
    m[6] = uint8_t(request.sequence >> 8);
    m[7] = uint8_t(request.sequence);
    std::copy(data.begin(), data.end(), m.begin() + kIcmpHeader);
    uint16_t sum = InternetChecksum(m);
    m[2] = uint8_t(sum >> 8);
    m[3] = uint8_t(sum);
    return m.size();
}

uint32_t StatusOfError(uint8_t type, uint8_t code) {
    if (type == kTimeExceeded) return kIpTtlExpiredTransit;
    switch (code) {
    case 0: return kIpDestNetUnreachable;
    case 1: return kIpDestHostUnreachable;
    case 2: return kIpDestProtUnreachable;
    case 3: return kIpDestPortUnreachable;
    case 4: return kIpPacketTooBig;
    default: return kIpDestHostUnreachable;
    }
}

namespace {
// An echo reply carries back exactly the data of the request.
bool CarriesOurData(std::span<const uint8_t> icmp, const EchoRequest &request) {
    std::span<const uint8_t> data = icmp.subspan(kIcmpHeader);
    return data.size() == request.data.size() && std::equal(data.begin(), data.end(), request.data.begin());
}
} // namespace

std::optional<EchoAnswer> MatchRawPacket(std::span<const uint8_t> packet, const EchoRequest &request) {
    ByteReader ip(packet);
    auto ipLength = IpHeaderLength(ip);
    if (!ipLength || ip.u8(kIpProtocol) != kProtocolIcmp) return std::nullopt;
    auto icmp = ip.from(*ipLength);
    auto type = icmp->u8(0);
    auto code = icmp->u8(1);
    if (!type || !code || !icmp->has(0, kIcmpHeader) || InternetChecksum(icmp->bytes()) != 0) return std::nullopt;

    EchoAnswer answer;
    answer.from = *ip.raw32(kIpSource);
    answer.ttl = *ip.u8(kIpTtl);
    answer.tos = *ip.u8(kIpTos);

    if (*type == kEchoReply) {
        if (answer.from != request.destination || icmp->u16be(kIcmpIdentifier) != request.identifier ||
            icmp->u16be(kIcmpSequence) != request.sequence || !CarriesOurData(icmp->bytes(), request))
            return std::nullopt;
        answer.status = kIpSuccess;
        answer.data = icmp->bytes().subspan(kIcmpHeader);
        return answer;
    }
    if (*type != kTimeExceeded && *type != kDestinationUnreachable) return std::nullopt;

    // The error quotes the IP header of our request and at least the first 8 bytes of its ICMP message.
    auto inner = icmp->from(kIcmpHeader);
    auto innerLength = IpHeaderLength(*inner);
    if (!innerLength || inner->u8(kIpProtocol) != kProtocolIcmp || inner->raw32(kIpDestination) != request.destination)
        return std::nullopt;
    auto quoted = inner->from(*innerLength);
    if (!quoted->has(0, kIcmpHeader) || !IsOurRequest(*quoted, request)) return std::nullopt;
    answer.status = StatusOfError(*type, *code);
    return answer;
}

std::optional<EchoAnswer> MatchDatagramReply(std::span<const uint8_t> message, uint32_t from,
                                             const EchoRequest &request) {
    ByteReader icmp(message);
    if (!icmp.has(0, kIcmpHeader) || icmp.u8(0) != kEchoReply || icmp.u16be(kIcmpIdentifier) != request.identifier ||
        icmp.u16be(kIcmpSequence) != request.sequence || from != request.destination ||
        InternetChecksum(message) != 0 || !CarriesOurData(message, request))
        return std::nullopt;
    EchoAnswer answer;
    answer.from = from;
    answer.status = kIpSuccess;
    answer.data = message.subspan(kIcmpHeader);
    return answer;
}

std::optional<EchoAnswer> MatchDatagramError(uint8_t type, uint8_t code, uint32_t offender,
                                             uint32_t originalDestination, std::span<const uint8_t> quoted,
                                             const EchoRequest &request) {
    if (type != kTimeExceeded && type != kDestinationUnreachable) return std::nullopt;
    ByteReader q(quoted);
    if (originalDestination != request.destination || !q.has(0, kIcmpHeader) || !IsOurRequest(q, request))
        return std::nullopt;
    EchoAnswer answer;
    answer.from = offender;
    answer.status = StatusOfError(type, code);
    return answer;
}

} // namespace rt::icmp
