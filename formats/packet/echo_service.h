// The records the program and its ICMP helper (routetrace-icmp) exchange over their socket pair:
// one fixed-size request, one fixed-size response, each a whole datagram of a SOCK_SEQPACKET pair.
// Several requests may be outstanding (a trace probes the hops ahead of the one it waits for); each
// carries a tag of the program's choosing, and the response to it carries the same tag.
// The helper holds a raw socket on behalf of a process that runs code the user chose, so every
// request is read as hostile: a record that is not exactly right is refused as a whole.
//
// Header-only on purpose: the helper links against libc alone (no C++ runtime), and both sides must
// read and write the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace rt::icmp {

// The limits of what the helper sends. The program's probes carry 32 to 128 bytes of "a", wait
// 2400 ms and have the type of service 0; the helper allows a little more of the first two, and
// nothing else. It holds a right on behalf of code the user chose, so it must be no flood tool.
inline constexpr uint16_t kEchoServiceMaxData = 256; // the data area of the reply record
inline constexpr uint32_t kEchoServiceMaxTimeoutMs = 10000;
// Requests the helper keeps outstanding at once (sent, or waiting for their turn to be sent); one
// more is answered at once with kIpGeneralFailure. The program never has more of its own there: a
// trace probes at most 16 hops ahead, and waits for room before it sends past that.
inline constexpr size_t kEchoServiceMaxOutstanding = 16;
// The helper's pace: a burst of kEchoServiceBurst probes, then one per kEchoServiceIntervalMs
// sustained (as fast as ping lets a user). A trace's window of probes goes out at once; a request
// that finds no token waits inside the helper, and its round trip and timeout count from its send.
inline constexpr uint32_t kEchoServiceBurst = 16;
inline constexpr uint32_t kEchoServiceIntervalMs = 2;

// Request, 20 bytes (integers little-endian): magic "RTQ2", destination (network byte order),
// timeout in milliseconds, data size, time-to-live, type of service, tag, two zero bytes.
inline constexpr size_t kEchoRequestRecordSize = 20;
// Response, 20 bytes: magic "RTA2", status (an IpStatus), answering address (network byte order),
// round-trip time in milliseconds (from the request's own send), the answer's time-to-live and type
// of service, the request's tag.
inline constexpr size_t kEchoResponseRecordSize = 20;
// The helper's first record, once it holds its socket and has given up everything else: a response
// with this status and nothing else set.
inline constexpr uint32_t kEchoServiceReady = 0x52454459; // a value no IpStatus takes

struct EchoServiceRequest {
    uint32_t destination = 0; // network byte order
    uint32_t timeoutMs = 0;   // 1 .. kEchoServiceMaxTimeoutMs
    uint16_t dataSize = 0;    // 0 .. kEchoServiceMaxData; the data is that many "a" bytes
    uint8_t ttl = 0;          // 1 .. 255
    uint8_t tos = 0;          // 0 only: the program's own; a caller may not mark or prioritise probes
    uint16_t tag = 0;         // any value; the response to this request carries it back
};

struct EchoServiceResponse {
    uint32_t status = 0;
    uint32_t from = 0; // network byte order
    uint32_t roundTripMs = 0;
    uint8_t ttl = 0;
    uint8_t tos = 0;
    uint16_t tag = 0; // the request's
};

// Destinations no echo request may go to: 0.0.0.0/8 (this network, unspecified), multicast
// 224.0.0.0/4, reserved 240.0.0.0/4 and the limited broadcast 255.255.255.255.
inline bool IsForbiddenEchoDestination(uint32_t destination) {
    const auto *b = reinterpret_cast<const uint8_t *>(&destination);
    return b[0] == 0 || b[0] >= 224;
}

namespace echo_service_detail {
// The digit names the layout: a helper of another layout is refused at its first record.
inline constexpr uint8_t kRequestMagic[4] = {'R', 'T', 'Q', '2'};
inline constexpr uint8_t kResponseMagic[4] = {'R', 'T', 'A', '2'};
inline void Put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline uint32_t Get32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void PutRaw32(uint8_t *p, uint32_t v) { __builtin_memcpy(p, &v, 4); }
inline uint32_t GetRaw32(const uint8_t *p) {
    uint32_t v;
    __builtin_memcpy(&v, p, 4);
    return v;
}
inline bool HasMagic(const uint8_t *p, const uint8_t (&magic)[4]) {
    return p[0] == magic[0] && p[1] == magic[1] && p[2] == magic[2] && p[3] == magic[3];
}
} // namespace echo_service_detail

inline void EncodeEchoRequest(const EchoServiceRequest &r, uint8_t (&out)[kEchoRequestRecordSize]) {
    using namespace echo_service_detail;
    for (int i = 0; i < 4; ++i) out[i] = kRequestMagic[i];
    PutRaw32(out + 4, r.destination);
    Put32(out + 8, r.timeoutMs);
    out[12] = uint8_t(r.dataSize);
    out[13] = uint8_t(r.dataSize >> 8);
    out[14] = r.ttl;
    out[15] = r.tos;
    out[16] = uint8_t(r.tag);
    out[17] = uint8_t(r.tag >> 8);
    out[18] = out[19] = 0;
}

// The request in the record, only when the record is exactly one request and every field is within
// the limits above; nothing otherwise.
inline std::optional<EchoServiceRequest> DecodeEchoRequest(std::span<const uint8_t> record) {
    using namespace echo_service_detail;
    if (record.size() != kEchoRequestRecordSize || !HasMagic(record.data(), kRequestMagic) || record[18] || record[19])
        return std::nullopt;
    const uint8_t *p = record.data();
    EchoServiceRequest r;
    r.destination = GetRaw32(p + 4);
    r.timeoutMs = Get32(p + 8);
    r.dataSize = uint16_t(p[12] | p[13] << 8);
    r.ttl = p[14];
    r.tos = p[15];
    r.tag = uint16_t(p[16] | p[17] << 8);
    if (IsForbiddenEchoDestination(r.destination) || r.timeoutMs == 0 || r.timeoutMs > kEchoServiceMaxTimeoutMs ||
        r.dataSize > kEchoServiceMaxData || r.ttl == 0 || r.tos != 0)
        return std::nullopt;
    return r;
}

inline void EncodeEchoResponse(const EchoServiceResponse &r, uint8_t (&out)[kEchoResponseRecordSize]) {
    using namespace echo_service_detail;
    for (int i = 0; i < 4; ++i) out[i] = kResponseMagic[i];
    Put32(out + 4, r.status);
    PutRaw32(out + 8, r.from);
    Put32(out + 12, r.roundTripMs);
    out[16] = r.ttl;
    out[17] = r.tos;
    out[18] = uint8_t(r.tag);
    out[19] = uint8_t(r.tag >> 8);
}

inline std::optional<EchoServiceResponse> DecodeEchoResponse(std::span<const uint8_t> record) {
    using namespace echo_service_detail;
    if (record.size() != kEchoResponseRecordSize || !HasMagic(record.data(), kResponseMagic)) return std::nullopt;
    const uint8_t *p = record.data();
    EchoServiceResponse r;
    r.status = Get32(p + 4);
    r.from = GetRaw32(p + 8);
    r.roundTripMs = Get32(p + 12);
    r.ttl = p[16];
    r.tos = p[17];
    r.tag = uint16_t(p[18] | p[19] << 8);
    return r;
}

} // namespace rt::icmp
