#include "echo_request.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "formats/packet/echo_service.h"
#include "runtime/core/echo_records.h"

namespace rt::platform {
namespace {

using icmp::EchoAnswer;
using icmp::kIpBadDestination;
using icmp::kIpGeneralFailure;
using icmp::kIpReqTimedOut;
using icmp::kIpSuccess;

void PutU16(uint8_t *p, uint16_t v) { std::memcpy(p, &v, 2); }
void PutU32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

// Writes ICMP_ECHO_REPLY and as much of the echoed data as fits into the caller's buffer.
void WriteReply(uint8_t *reply, uint32_t replySize, const EchoAnswer &answer, uint32_t roundTrip) {
    if (!reply || replySize < kReplyHeaderSize) return;
    std::memset(reply, 0, kReplyHeaderSize);
    size_t dataRoom = replySize - kReplyHeaderSize;
    size_t dataSize = std::min({answer.data.size(), dataRoom, size_t(0xFFFF)});
    uint8_t *data = reply + kReplyHeaderSize;
    if (dataSize) std::memcpy(data, answer.data.data(), dataSize);
    uintptr_t dataAddress = reinterpret_cast<uintptr_t>(data);
    PutU32(reply + kReplyAddress, answer.from);
    PutU32(reply + kReplyStatus, answer.status);
    PutU32(reply + kReplyRoundTripTime, roundTrip);
    PutU16(reply + kReplyDataSize, uint16_t(dataSize));
    PutU16(reply + kReplyReserved, 1);
    PutU32(reply + kReplyData, dataAddress <= 0xFFFFFFFF ? uint32_t(dataAddress) : 0);
    reply[kReplyOptions + kOptionTtl] = answer.ttl;
    reply[kReplyOptions + kOptionTos] = answer.tos;
}

// Writes a hop's verdict: the reply with the request's data (an echo reply carried it back), or the
// failure. 1 when there is a reply.
uint32_t WriteResult(const HopResult &result, std::span<const uint8_t> data, void *out, uint32_t replySize) {
    if (result.status == kIpReqTimedOut || result.status == kIpGeneralFailure) {
        WriteEchoFailure(out, replySize, result.status);
        return 0;
    }
    EchoAnswer answer = result.answer;
    answer.status = result.status;
    if (result.status == kIpSuccess) answer.data = data;
    WriteReply(static_cast<uint8_t *>(out), replySize, answer, result.roundTripMs);
    return 1;
}

} // namespace

void WriteEchoFailure(void *reply, uint32_t replySize, uint32_t status) {
    if (!reply || replySize < kReplyHeaderSize) return;
    auto *out = static_cast<uint8_t *>(reply);
    std::memset(out, 0, kReplyHeaderSize);
    PutU32(out + kReplyStatus, status);
}

uint32_t SendEchoRequest(EchoChannel &c, const EchoRequestCall &call, uint8_t lastTtl) {
    if (!call.reply || call.replySize < kReplyHeaderSize) return 0; // nowhere to put even the status
    if (icmp::IsForbiddenEchoDestination(call.destination)) {
        WriteEchoFailure(call.reply, call.replySize, kIpBadDestination);
        return 0;
    }
    if (call.dataSize > kMaxEchoData || (call.dataSize && !call.data)) {
        WriteEchoFailure(call.reply, call.replySize, kIpGeneralFailure);
        return 0;
    }
    std::span<const uint8_t> bytes{static_cast<const uint8_t *>(call.data), size_t(call.dataSize)};
    // Without options: the system's defaults, time-to-live 128.
    const auto *o = static_cast<const uint8_t *>(call.options);
    EchoProbe probe{call.destination,
                    uint8_t(o ? o[kOptionTtl] : 128),
                    uint8_t(o ? o[kOptionTos] : 0),
                    uint8_t(o ? o[kOptionFlags] : 0),
                    bytes,
                    0,
                    call.timeoutMs};
    std::lock_guard busy(c.busy);
    if (o && lastTtl && probe.ttl && probe.ttl <= lastTtl) {
        TraceShape trace{call.destination, {bytes.begin(), bytes.end()}, probe.tos, probe.flags, lastTtl};
        return WriteResult(SendAhead(c, trace, probe.ttl, call.timeoutMs), bytes, call.reply, call.replySize);
    }
    return WriteResult(SendOne(c, probe), bytes, call.reply, call.replySize);
}

} // namespace rt::platform
