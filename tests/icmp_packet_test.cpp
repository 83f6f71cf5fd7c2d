// Recognising the answers that belong to one echo request.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "formats/packet/echo_service.h"
#include "formats/packet/icmp_packet.h"
#include "runtime/platform/linux/win32_api.h"

namespace icmp = rt::icmp;
using Bytes = std::vector<uint8_t>;

namespace {

const uint32_t kDest = htonl(0xCB007102);   // 203.0.113.2
const uint32_t kRouter = htonl(0xC0000202); // 192.0.2.2
const Bytes kData(32, 'a');
const icmp::EchoRequest kRequest{kDest, 0x1234, 7, kData};

Bytes IpHeader(uint32_t source, uint32_t destination, uint8_t ttl) {
    Bytes h(20, 0);
    h[0] = 0x45;
    h[8] = ttl;
    h[9] = 1;
    std::memcpy(&h[12], &source, 4);
    std::memcpy(&h[16], &destination, 4);
    return h;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Sets the checksum of an ICMP message.
Bytes WithChecksum(Bytes m) {
    m[2] = m[3] = 0;
    uint16_t sum = icmp::InternetChecksum(m);
    m[2] = uint8_t(sum >> 8);
    m[3] = uint8_t(sum);
    return m;
}

Bytes EchoReply(uint16_t id, uint16_t seq, const Bytes &data = kData) {
    Bytes m = icmp::BuildEchoRequest({kDest, id, seq, {}}, data);
    m[0] = 0; // echo reply
    return WithChecksum(m);
}

Bytes Error(uint8_t type, uint8_t code, uint32_t from, const icmp::EchoRequest &quoted) {
    Bytes request = icmp::BuildEchoRequest(quoted, kData);
    request.resize(8); // routers quote at least the first 8 bytes
    Bytes icmp = WithChecksum(
        Concat({{type, code, 0, 0, 0, 0, 0, 0}, IpHeader(htonl(0xC0000201), quoted.destination, 1), request}));
    return Concat({IpHeader(from, htonl(0xC0000201), 64), icmp});
}

} // namespace

TEST(IcmpPacket, EchoRequestCarriesChecksumIdentifierSequenceAndData) {
    Bytes m = icmp::BuildEchoRequest(kRequest, Bytes(40, 'a'));
    ASSERT_EQ(m.size(), 48u);
    EXPECT_EQ(m[0], 8);
    EXPECT_EQ(m[4], 0x12);
    EXPECT_EQ(m[7], 7);
    EXPECT_EQ(icmp::InternetChecksum(m), 0) << "a message with its checksum sums to zero";
}

TEST(IcmpPacket, EchoReplyMustBeOursFromTheDestination) {
    auto ours = icmp::MatchRawPacket(Concat({IpHeader(kDest, 0, 57), EchoReply(0x1234, 7)}), kRequest);
    ASSERT_TRUE(ours);
    EXPECT_EQ(ours->from, kDest);
    EXPECT_EQ(ours->status, icmp::kIpSuccess);
    EXPECT_EQ(ours->ttl, 57);
    EXPECT_EQ(ours->data.size(), 32u);
    EXPECT_FALSE(icmp::MatchRawPacket(Concat({IpHeader(kDest, 0, 57), EchoReply(0x4321, 7)}), kRequest))
        << "another process's identifier";
    EXPECT_FALSE(icmp::MatchRawPacket(Concat({IpHeader(kDest, 0, 57), EchoReply(0x1234, 6)}), kRequest))
        << "an earlier request's late answer";
    EXPECT_FALSE(icmp::MatchRawPacket(Concat({IpHeader(kRouter, 0, 57), EchoReply(0x1234, 7)}), kRequest))
        << "an echo reply from another host";
}

TEST(IcmpPacket, AnAnswerWithAWrongChecksumOrOtherDataIsNotOurs) {
    Bytes corrupt = EchoReply(0x1234, 7);
    corrupt[10] ^= 1;
    Bytes other = EchoReply(0x1234, 7, Bytes(32, 'b')), shorter = EchoReply(0x1234, 7, Bytes(31, 'a'));
    for (const Bytes &m : {corrupt, other, shorter}) {
        EXPECT_FALSE(icmp::MatchRawPacket(Concat({IpHeader(kDest, 0, 57), m}), kRequest));
        EXPECT_FALSE(icmp::MatchDatagramReply(m, kDest, kRequest));
    }
    Bytes expired = Error(11, 0, kRouter, kRequest);
    expired[22] ^= 0x40; // the error's checksum
    EXPECT_FALSE(icmp::MatchRawPacket(expired, kRequest));
}

TEST(IcmpPacket, ErrorsCountOnlyWhenTheyQuoteOurRequest) {
    auto expired = icmp::MatchRawPacket(Error(11, 0, kRouter, kRequest), kRequest);
    ASSERT_TRUE(expired);
    EXPECT_EQ(expired->from, kRouter);
    EXPECT_EQ(expired->status, icmp::kIpTtlExpiredTransit);
    auto unreachable = icmp::MatchRawPacket(Error(3, 1, kRouter, kRequest), kRequest);
    ASSERT_TRUE(unreachable);
    EXPECT_EQ(unreachable->status, icmp::kIpDestHostUnreachable);
    EXPECT_FALSE(icmp::MatchRawPacket(Error(11, 0, kRouter, {kDest, 0x9999, 7, {}}), kRequest));
    EXPECT_FALSE(icmp::MatchRawPacket(Error(11, 0, kRouter, {kRouter, 0x1234, 7, {}}), kRequest));
    EXPECT_FALSE(icmp::MatchRawPacket(Error(5, 0, kRouter, kRequest), kRequest)) << "a redirect is no answer";
}

TEST(IcmpPacket, TruncatedAndMalformedPacketsAreIgnoredSafely) {
    Bytes full = Error(11, 0, kRouter, kRequest);
    for (size_t n = 0; n < full.size(); ++n) {
        Bytes cut(full.begin(), full.begin() + std::ptrdiff_t(n));
        EXPECT_FALSE(icmp::MatchRawPacket(cut, kRequest)) << "cut to " << n << " bytes";
    }
    Bytes badLength = full;
    badLength[0] = 0x4F; // header length 60, longer than the packet
    EXPECT_FALSE(icmp::MatchRawPacket(Bytes(badLength.begin(), badLength.begin() + 40), kRequest));
    badLength[0] = 0x41; // header length 4, shorter than any header
    EXPECT_FALSE(icmp::MatchRawPacket(badLength, kRequest));
    Bytes v6 = full;
    v6[0] = 0x65;
    EXPECT_FALSE(icmp::MatchRawPacket(v6, kRequest));
}

TEST(IcmpPacket, DatagramRepliesAndErrorQueueReports) {
    // The socket is bound to the request's identifier: a reply or a quoted request with another one
    // (or another sequence number) is a forgery or someone else's.
    Bytes reply = EchoReply(0x1234, 7);
    EXPECT_TRUE(icmp::MatchDatagramReply(reply, kDest, kRequest));
    EXPECT_FALSE(icmp::MatchDatagramReply(reply, kRouter, kRequest));
    EXPECT_FALSE(icmp::MatchDatagramReply(Bytes(reply.begin(), reply.begin() + 7), kDest, kRequest));
    EXPECT_FALSE(icmp::MatchDatagramReply(EchoReply(0x0001, 7), kDest, kRequest));
    EXPECT_FALSE(icmp::MatchDatagramReply(EchoReply(0x1234, 8), kDest, kRequest));
    EXPECT_FALSE(icmp::MatchDatagramError(11, 0, kRouter, kDest, icmp::BuildEchoRequest({kDest, 0x0001, 7, {}}, kData),
                                          kRequest));
    Bytes sent = icmp::BuildEchoRequest(kRequest, kData);
    auto report = icmp::MatchDatagramError(11, 0, kRouter, kDest, sent, kRequest);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->from, kRouter);
    EXPECT_FALSE(icmp::MatchDatagramError(11, 0, kRouter, kRouter, sent, kRequest));
    EXPECT_FALSE(icmp::MatchDatagramError(11, 0, kRouter, kDest, Bytes(sent.begin(), sent.begin() + 6), kRequest));
    EXPECT_FALSE(icmp::MatchDatagramError(0, 0, kRouter, kDest, sent, kRequest));
}

TEST(IcmpPacket, TheHelpersRequestRecordIsTakenOnlyWithEveryFieldInRange) {
    const icmp::EchoServiceRequest good{kDest, 2400, 32, 1, 0, 0xBEEF};
    uint8_t record[icmp::kEchoRequestRecordSize];
    icmp::EncodeEchoRequest(good, record);
    auto back = icmp::DecodeEchoRequest(record);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->destination, kDest);
    EXPECT_EQ(back->timeoutMs, 2400u);
    EXPECT_EQ(back->dataSize, 32u);
    EXPECT_EQ(back->ttl, 1u);
    EXPECT_EQ(back->tag, 0xBEEFu);
    const struct {
        const char *what;
        icmp::EchoServiceRequest request;
        bool taken;
    } cases[] = {
        {"the limits", {kDest, 10000, 256, 255, 0}, true},
        {"a type of service", {kDest, 2400, 32, 1, 0xB8}, false},
        {"ECN bits", {kDest, 2400, 32, 1, 0x03}, false},
        {"every type of service bit", {kDest, 2400, 32, 1, 0xFF}, false},
        {"unspecified", {0, 2400, 32, 1, 0}, false},
        {"this network", {htonl(0x00010203), 2400, 32, 1, 0}, false},
        {"multicast", {htonl(0xE0000001), 2400, 32, 1, 0}, false},
        {"reserved", {htonl(0xF0000001), 2400, 32, 1, 0}, false},
        {"broadcast", {0xFFFFFFFF, 2400, 32, 1, 0}, false},
        {"time-to-live 0", {kDest, 2400, 32, 0, 0}, false},
        {"no timeout", {kDest, 0, 32, 1, 0}, false},
        {"timeout too long", {kDest, 10001, 32, 1, 0}, false},
        {"data too long", {kDest, 2400, 257, 1, 0}, false},
    };
    for (const auto &c : cases) {
        icmp::EncodeEchoRequest(c.request, record);
        EXPECT_EQ(icmp::DecodeEchoRequest(record).has_value(), c.taken) << c.what;
    }
    icmp::EncodeEchoRequest(good, record);
    EXPECT_FALSE(icmp::DecodeEchoRequest(std::span<const uint8_t>(record, sizeof record - 1))) << "short";
    Bytes longer(record, record + sizeof record);
    longer.push_back(0);
    EXPECT_FALSE(icmp::DecodeEchoRequest(longer)) << "long";
    record[19] = 1;
    EXPECT_FALSE(icmp::DecodeEchoRequest(record)) << "padding set";
    icmp::EncodeEchoRequest(good, record);
    record[0] = 'X';
    EXPECT_FALSE(icmp::DecodeEchoRequest(record)) << "another record";
}
