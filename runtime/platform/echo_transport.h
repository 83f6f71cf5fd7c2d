// The one interface through which the runtime sends echo requests and hears their answers, whatever
// carries them: an unprivileged datagram ICMP socket, the ICMP helper, or a fake that a test scripts.
// A transport sends what it is given and reports what it heard, each answer under the sequence number
// of the probe it belongs to; it decides nothing about which hop to probe (probe_scheduler.h does).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "formats/packet/icmp_packet.h"

namespace rt::platform {

using EchoClock = std::chrono::steady_clock;

// One echo request as a transport sends it.
struct EchoProbe {
    uint32_t destination = 0;      // network byte order
    uint8_t ttl = 128;             // the request's time-to-live; 0 could not leave this host
    uint8_t tos = 0;               // type of service
    uint8_t flags = 0;             // IP flags of the option record (don't fragment)
    std::span<const uint8_t> data; // what the request carries (and an echo reply carries back)
    uint16_t sequence = 0;         // drawn at random for the probe; its answer must carry it back
    uint32_t timeoutMs = 0;        // how long its answer is waited for
};

// What a transport heard for one of its probes.
struct EchoHeard {
    uint16_t sequence = 0;    // the probe's
    uint32_t status = 0;      // an IpStatus; kIpReqTimedOut or kIpGeneralFailure: no answer came
    icmp::EchoAnswer answer;  // when an answer came (its data is not kept: an echo reply's is the probe's)
    uint32_t roundTripMs = 0; // from the probe's send to the answer's arrival
};

class EchoTransport {
  public:
    virtual ~EchoTransport() = default;
    // The clock the transport measures with (a test's fake clock for the fake).
    virtual EchoClock::time_point Now() const = 0;
    // How many more probes it takes without waiting (the helper keeps only so many of a caller's).
    virtual unsigned Room() const = 0;
    // The wait it applies to a probe that asks for timeoutMs (the helper bounds it).
    virtual uint32_t Timeout(uint32_t timeoutMs) const { return timeoutMs; }
    // Sends one probe; the moment it went, or nothing when it could not go.
    virtual std::optional<EchoClock::time_point> Send(const EchoProbe &probe) = 0;
    // The next thing heard, waiting at most until `until`; nothing when nothing came by then.
    virtual std::optional<EchoHeard> Receive(EchoClock::time_point until) = 0;
    // How long past a probe's own wait its verdict may still come (the helper reports every probe
    // by its deadline, a little later through the socket pair).
    virtual uint32_t GraceMs() const { return 0; }
    // The status of a probe whose verdict did not come within its wait and grace. A transport that
    // should have reported it by then (the helper) is broken, and stops.
    virtual uint32_t Overdue() { return icmp::kIpReqTimedOut; }
    // Leaves every probe sent so far behind: an answer to one of them is dropped from here on.
    virtual void Forget() {}
    // It failed and sends nothing more.
    virtual bool Broken() const { return false; }
};

} // namespace rt::platform
