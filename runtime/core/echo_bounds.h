// Bounds a front end puts on the program's echo requests. A report traces with the wait and the hop
// limit its user chose while the program's own trace runs as it is: the platform's binding of the
// echo command applies the bounds, so that every front end and every platform share one rule.
// (What each request brought is recorded with the trace: trace_records.h.)
#pragma once

#include <cstdint>
#include <functional>

namespace rt {

struct EchoBounds {
    uint32_t waitMs = 0;  // how long each request waits for its answer; 0: as long as the program asks
    uint32_t lastTtl = 0; // a request with a larger time-to-live fails at once, unsent; 0: no limit
};

// The bounds in force.
void SetEchoBounds(EchoBounds bounds);
EchoBounds CurrentEchoBounds();

// One echo request as the program made it (the records in echo_records.h's layout).
struct EchoCall {
    uint32_t destination = 0;      // network byte order
    const void *options = nullptr; // the option record, or none
    uint32_t dataSize = 0;
    const void *reply = nullptr; // where the reply is written
    uint32_t replySize = 0;
    uint32_t timeoutMs = 0; // the wait the program asks for
};

// The echo command as every platform's binding serves it: under the bounds in force, recorded with
// the trace. A request past the last hop fails at once and sends nothing (0); any other is sent by
// `send`, given the wait the bounds leave and the trace's last hop (0: none; a platform that can
// probe ahead does so up to it), which returns how many replies it wrote.
using EchoSender = std::function<uint32_t(uint32_t waitMs, uint8_t lastTtl)>;
uint32_t SendBoundedEcho(const EchoCall &call, const EchoSender &send);

} // namespace rt
