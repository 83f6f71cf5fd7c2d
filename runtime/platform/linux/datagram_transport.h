// The unprivileged datagram ("ping") ICMP socket as an echo transport, where the system allows them
// (net.ipv4.ping_group_range). The socket is bound to a random echo identifier (its "port"); its Time
// Exceeded and Destination Unreachable reports arrive on its error queue (IP_RECVERR).
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "runtime/platform/echo_transport.h"

namespace rt::platform {

class DatagramTransport final : public EchoTransport {
  public:
    // Nothing where unprivileged ICMP sockets are closed.
    static std::unique_ptr<DatagramTransport> Open(uint16_t (*random)());
    ~DatagramTransport() override;

    int Socket() const { return fd_; }

    EchoClock::time_point Now() const override { return EchoClock::now(); }
    unsigned Room() const override { return ~0u; }
    std::optional<EchoClock::time_point> Send(const EchoProbe &probe) override;
    std::optional<EchoHeard> Receive(EchoClock::time_point until) override;
    void Forget() override;

    // What a receive reads into: the message (up to the largest datagram) and the kernel's control
    // messages. Never cleared, since only what a receive wrote is read.
    struct Buffers;

  private:
    // A probe sent and not yet answered, as its answers are matched.
    struct Outstanding {
        uint32_t destination = 0;
        std::vector<uint8_t> data;
        EchoClock::time_point sent;
        std::chrono::system_clock::time_point sentWall; // to compare with the kernel's arrival stamp
    };

    DatagramTransport(int fd, uint16_t identifier);
    // Reads everything waiting on the socket and queues each answer under its probe.
    void Collect();

    int fd_;
    uint16_t identifier_; // the one the socket is bound to
    std::unique_ptr<Buffers> buffers_;
    std::map<uint16_t, Outstanding> outstanding_; // by sequence number
    std::deque<EchoHeard> heard_;                 // collected, not yet received
};

} // namespace rt::platform
