// One ICMP handle's channel: a transport, the sequence numbers of its probes and the probing ahead of
// its trace, driven the same way whatever the transport is (a test drives it with the fake).
//
// Every probe's sequence number is drawn at random, none twice in the channel's life
// (formats/packet/sequence_drawer.h), so a node that sees one probe cannot forge an answer to another;
// only an answer that carries it is taken.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "formats/packet/sequence_drawer.h"
#include "runtime/platform/echo_transport.h"
#include "runtime/platform/probe_scheduler.h"

namespace rt::platform {

struct EchoChannel {
    EchoChannel(std::unique_ptr<EchoTransport> t, uint16_t (*randomSource)())
        : transport(std::move(t)), random(randomSource), ahead(transport->GraceMs()) {}

    std::unique_ptr<EchoTransport> transport; // under busy
    uint16_t (*random)();                     // a uniformly random number, for the sequence numbers
    icmp::SequenceDrawer sequences;           // under busy
    ProbeScheduler ahead;                     // under busy
    std::atomic<uint32_t> probesSent{0};
    std::mutex busy; // one request at a time per handle
};

// Sends one probe (its sequence number drawn here) and waits for its verdict; whatever the channel
// sent ahead is left behind.
HopResult SendOne(EchoChannel &channel, EchoProbe probe);

// Hop `ttl` of a trace that goes no further than trace.lastTtl, probing the hops after it ahead.
// Each hop is still probed once and timed from its own probe's send.
HopResult SendAhead(EchoChannel &channel, const TraceShape &trace, uint8_t ttl, uint32_t timeoutMs);

} // namespace rt::platform
