// The ICMP helper as an echo transport, where unprivileged ICMP sockets are closed: it alone holds a
// raw socket (and the right to open one), and serves fixed-size echo requests over a socket pair
// (formats/packet/echo_service.h). It is looked for beside the program, then in the package's folder,
// and started only from the descriptor of a file that is this user's own to run (io::WhyNotOwn).
// The helper draws its own identifier and sequence numbers; a probe's sequence number is the tag of
// its request. A channel never has more than kEchoServiceMaxOutstanding requests at the helper: past
// that the helper would refuse them.
#pragma once

#include <sys/types.h>

#include <deque>
#include <memory>
#include <string>

#include "runtime/platform/echo_transport.h"

namespace rt::platform {

class HelperTransport final : public EchoTransport {
  public:
    // Starts the helper; nothing when none could be started.
    static std::unique_ptr<HelperTransport> Open();
    ~HelperTransport() override;

    EchoClock::time_point Now() const override { return EchoClock::now(); }
    unsigned Room() const override;
    uint32_t Timeout(uint32_t timeoutMs) const override;
    std::optional<EchoClock::time_point> Send(const EchoProbe &probe) override;
    std::optional<EchoHeard> Receive(EchoClock::time_point until) override;
    uint32_t GraceMs() const override;
    uint32_t Overdue() override;
    bool Broken() const override { return broken_; }

  private:
    enum class Read { Response, Nothing, Broken };

    HelperTransport(int fd, pid_t pid) : fd_(fd), pid_(pid) {}
    Read ReadOne(EchoClock::time_point deadline, EchoHeard &heard);
    // Stops a helper that ended, answered out of turn or does not answer.
    void Abandon();

    int fd_;                // the program's end of the socket pair
    pid_t pid_;             // the helper
    unsigned atHelper_ = 0; // requests handed to the helper and not yet answered
    bool broken_ = false;
    std::deque<EchoHeard> heard_; // read while waiting for room, not yet received
};

} // namespace rt::platform
