// Building echo requests and recognising the answers that belong to them. Pure functions over
// bytes, so that they can be tested and fuzzed without a network.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace rt::icmp {

// Status values of ICMP_ECHO_REPLY.
enum IpStatus : uint32_t {
    kIpSuccess = 0,
    kIpBufTooSmall = 11001,
    kIpDestNetUnreachable = 11002,
    kIpDestHostUnreachable = 11003,
    kIpDestProtUnreachable = 11004,
    kIpDestPortUnreachable = 11005,
    kIpPacketTooBig = 11009,
    kIpReqTimedOut = 11010,
    kIpTtlExpiredTransit = 11013,
    kIpBadDestination = 11018,
    kIpGeneralFailure = 11050,
};

inline constexpr size_t kIcmpHeaderSize = 8; // type, code, checksum, identifier, sequence

struct EchoRequest {
    uint32_t destination; // network byte order
    uint16_t identifier;  // a datagram socket's is the one it is bound to
    uint16_t sequence;
    std::span<const uint8_t> data; // what the request carries; an echo reply must carry it back
};

// What an answer to our request says.
struct EchoAnswer {
    uint32_t from = 0;   // the answering node, network byte order
    uint32_t status = 0; // an IpStatus
    uint8_t ttl = 0;     // of the answer's IP header, when known
    uint8_t tos = 0;
    std::span<const uint8_t> data; // echoed data (echo replies only)
};

// The echo request message: ICMP header (type 8) with checksum, then the data, written into `out`.
// Its size, or 0 when it does not fit. (Allocates nothing: the ICMP helper runs without a C++ runtime.)
size_t WriteEchoRequest(const EchoRequest &request, std::span<const uint8_t> data, std::span<uint8_t> out);
inline std::vector<uint8_t> BuildEchoRequest(const EchoRequest &request, std::span<const uint8_t> data) {
    std::vector<uint8_t> m(kIcmpHeaderSize + data.size());
    WriteEchoRequest(request, data, m);
    return m;
}

// The Internet checksum of RFC 1071.
uint16_t InternetChecksum(std::span<const uint8_t> bytes);

// A packet read from a raw ICMP socket (IP header first). The answer when it is the echo reply from
// the destination with our identifier, sequence and data, or a Time Exceeded / Destination
// Unreachable quoting our request to the destination; nothing for anything else, nor for a message
// whose checksum is wrong.
std::optional<EchoAnswer> MatchRawPacket(std::span<const uint8_t> packet, const EchoRequest &request);

// A message read from a datagram ICMP socket (no IP header): the echo reply with our identifier,
// sequence and data, coming from the destination, with a right checksum.
std::optional<EchoAnswer> MatchDatagramReply(std::span<const uint8_t> message, uint32_t from,
                                             const EchoRequest &request);

// A report from a datagram socket's error queue: the ICMP type and code, the offending node, and the
// bytes of our own request that it quotes. The answer when the quoted request is ours (identifier
// and sequence).
std::optional<EchoAnswer> MatchDatagramError(uint8_t type, uint8_t code, uint32_t offender,
                                             uint32_t originalDestination, std::span<const uint8_t> quoted,
                                             const EchoRequest &request);

// The status of an ICMP error of that type and code.
uint32_t StatusOfError(uint8_t type, uint8_t code);

} // namespace rt::icmp
