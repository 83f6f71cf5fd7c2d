// Probing ahead, as a pure component: what a trace asks for, what was heard and the time go in; the
// probes to send and the finished hops come out. Nothing here touches a socket or a clock, so every
// case (timeouts, answers out of order or late, duplicates, forgeries, the target answering first,
// the hop limit) is tested with a fake transport on a fake clock.
//
// A trace asks for time-to-live 1, 2, 3 ... and goes no further than its last hop. Asked for hop n,
// the scheduler also has the hops after it probed, up to kWindow in flight and never past the last
// hop, each with its own sequence number, send time and wait; it files the answers as they come and
// answers the later hops from them. A silent stretch of the path then costs one wait, not one per hop.
// Once the target has answered, nothing more is sent ahead.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "runtime/platform/echo_transport.h"

namespace rt::platform {

// What every hop of one trace asks for alike; a request that differs starts another trace.
struct TraceShape {
    uint32_t destination = 0;
    std::vector<uint8_t> data;
    uint8_t tos = 0, flags = 0;
    uint8_t lastTtl = 0; // no probe goes past it
    bool operator==(const TraceShape &) const = default;
};

// A hop's verdict.
struct HopResult {
    uint32_t status = icmp::kIpReqTimedOut; // kIpReqTimedOut or kIpGeneralFailure: no answer
    icmp::EchoAnswer answer;                // when answered (without data)
    uint32_t roundTripMs = 0;
    bool overdue = false; // nothing came within its wait and the transport's grace
};

class ProbeScheduler {
  public:
    // Probes in flight at once, as traceroute sends by default.
    static constexpr unsigned kWindow = 16;

    // graceMs: how long past a probe's wait the transport may still report it.
    explicit ProbeScheduler(uint32_t graceMs = 0) : graceMs_(graceMs) {}

    // The program asks for hop `ttl` of `trace`. True when that starts the trace afresh (another
    // trace, or one that went back): whatever was sent before is left behind.
    bool Ask(const TraceShape &trace, uint8_t ttl);
    const TraceShape &Trace() const { return trace_; }
    // The next hop to probe while hop `asked` is wanted, or nothing: the asked hop's own probe always
    // goes; the ones after it only while the target has not answered and the transport has room.
    std::optional<uint8_t> NextSend(uint8_t asked, unsigned room);
    // The probe for that hop went at `at`, or could not go.
    void Sent(uint8_t ttl, uint16_t sequence, uint32_t timeoutMs, EchoClock::time_point at);
    void Unsent(uint8_t ttl);
    // Files what the transport heard under its probe. Ignored: an answer to no probe in flight (never
    // sent, left behind, already answered) and one that came after its probe's wait.
    void Heard(const EchoHeard &heard);
    // Every probe in flight ends with this status (the transport broke).
    void FailAll(uint32_t status);
    // Until when hop `ttl`'s answer is waited for.
    EchoClock::time_point Deadline(uint8_t ttl) const;
    // Hop `ttl`'s verdict once it is in, or once `now` is past its deadline; the hop is done then.
    std::optional<HopResult> Take(uint8_t ttl, EchoClock::time_point now);
    // The program goes on one probe at a time: whatever was sent ahead is left behind.
    void Close() { open_ = false; }

  private:
    struct Probe {
        uint16_t sequence = 0;
        uint32_t timeoutMs = 0;
        EchoClock::time_point sent;
        bool done = false; // its verdict is in
        HopResult result;
    };

    uint32_t graceMs_;
    bool open_ = false;
    TraceShape trace_;
    unsigned nextTtl_ = 0;        // the first time-to-live not yet sent
    bool targetAnswered_ = false; // nothing more is sent ahead
    std::map<uint8_t, Probe> probes_;
};

} // namespace rt::platform
