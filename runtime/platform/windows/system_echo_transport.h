// The Windows transport of the echo channel: the system's asynchronous echo call (IcmpSendEcho2) with
// an event and a reply buffer of its own per probe, read with IcmpParseReplies once the event is set.
// The system matches each answer to its request, so an answer is filed under the probe whose buffer
// it was written to; the system times every request out by itself, with whole milliseconds.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <vector>

#include "runtime/platform/echo_transport.h"

namespace rt::platform {

// The system's functions, with the program's 32-bit convention.
struct SystemEchoCalls {
    using SendEcho2Fn = DWORD(WINAPI *)(HANDLE icmp, HANDLE event, void *apc, void *apcContext, DWORD destination,
                                        void *data, WORD dataSize, void *options, void *reply, DWORD replySize,
                                        DWORD timeoutMs);
    using ParseRepliesFn = DWORD(WINAPI *)(void *reply, DWORD replySize);
    SendEcho2Fn sendEcho2 = nullptr;
    ParseRepliesFn parseReplies = nullptr;
};

class SystemEchoTransport final : public EchoTransport {
  public:
    // Requests in flight that a trace may fill by probing ahead; beyond them only the probe of the
    // hop asked for goes.
    static constexpr unsigned kRoom = 32;
    // Requests in flight at all, probes left behind included: as many events as one wait can watch.
    static constexpr unsigned kMaxInFlight = MAXIMUM_WAIT_OBJECTS;

    // Sends on the ICMP handle `icmp`, which the caller keeps open while this transport lives.
    SystemEchoTransport(HANDLE icmp, SystemEchoCalls calls) : icmp_(icmp), calls_(calls) {}
    // Waits for the requests still in flight (each at most its wait and the grace); a buffer the
    // system has still not given back by then is left to it rather than freed under it.
    ~SystemEchoTransport() override;

    EchoClock::time_point Now() const override { return EchoClock::now(); }
    unsigned Room() const override { return pending_.size() < kRoom ? unsigned(kRoom - pending_.size()) : 0; }
    std::optional<EchoClock::time_point> Send(const EchoProbe &probe) override;
    std::optional<EchoHeard> Receive(EchoClock::time_point until) override;
    // The system reports a request by its wait; its event may be seen a little later.
    uint32_t GraceMs() const override { return kGraceMs; }
    void Forget() override;
    bool Broken() const override { return broken_; }

  private:
    static constexpr uint32_t kGraceMs = 500;

    struct Pending {
        HANDLE event = nullptr;
        std::unique_ptr<uint64_t[]> reply; // 8-byte aligned, as the system's records are
        DWORD replySize = 0;
        uint16_t sequence = 0;
        uint32_t timeoutMs = 0;
        EchoClock::time_point sent;
        bool forgotten = false; // its answer is dropped
    };

    // What the system wrote into a finished request's buffer.
    EchoHeard Read(Pending &p) const;
    // Files the request at `index`, whose event is set: heard_ gets its answer unless it was forgotten.
    void Finish(size_t index);
    // Waits up to `ms` for a request to finish and files it; false when none did.
    bool WaitForOne(DWORD ms);

    HANDLE icmp_;
    SystemEchoCalls calls_;
    std::vector<Pending> pending_;
    std::deque<EchoHeard> heard_;
    bool broken_ = false;
};

} // namespace rt::platform
