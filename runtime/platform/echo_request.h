// The echo command as a handle's channel serves it on every platform: the program's request checked,
// sent as one probe or as a hop of a trace that probes ahead, and its verdict written back into the
// program's reply record (ICMP_ECHO_REPLY, runtime/core/echo_records.h).
#pragma once

#include <cstdint>

#include "runtime/platform/echo_channel.h"

namespace rt::platform {

// One echo request as the program made it.
struct EchoRequestCall {
    uint32_t destination = 0;      // network byte order
    const void *data = nullptr;    // dataSize bytes
    uint32_t dataSize = 0;         // at most kMaxEchoData
    const void *options = nullptr; // the option record (IP_OPTION_INFORMATION), or none
    void *reply = nullptr;         // where the reply record is written
    uint32_t replySize = 0;
    uint32_t timeoutMs = 0;
};

// The most data one request carries: what fits in one IP datagram with its headers.
inline constexpr uint32_t kMaxEchoData = 65500;

// Writes a reply record that says only `status` (nothing when the buffer cannot hold the record).
void WriteEchoFailure(void *reply, uint32_t replySize, uint32_t status);

// Serves the request on the channel and returns how many replies it wrote (0 or 1). With a last hop
// (lastTtl > 0) and an option record whose time-to-live is within it, the request is a hop of a
// trace and the hops after it are probed ahead; otherwise it is one probe alone.
uint32_t SendEchoRequest(EchoChannel &channel, const EchoRequestCall &call, uint8_t lastTtl);

} // namespace rt::platform
