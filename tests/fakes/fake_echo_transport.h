// An echo transport on a fake clock, for tests of what drives it: the test scripts who answers the
// probe sent with each time-to-live, after how long and how many times (a hop it does not list stays
// silent), and forges answers for any sequence number at any time. Time passes only while the
// driver waits in Receive.
#pragma once

#include <algorithm>
#include <map>
#include <vector>

#include "runtime/platform/echo_transport.h"

namespace rt::platform {

class FakeEchoTransport final : public EchoTransport {
  public:
    struct Reply {
        uint32_t from = 0;
        uint32_t status = 0; // an IpStatus
        uint32_t afterMs = 0;
        int copies = 1;
    };
    struct SentProbe {
        uint8_t ttl;
        uint16_t sequence;
        EchoClock::time_point at;
    };

    std::map<uint8_t, Reply> replies; // by the probe's time-to-live
    unsigned room = ~0u;
    uint32_t graceMs = 0;
    std::vector<SentProbe> sent;

    // An answer carrying `sequence`, arriving afterMs from now (a forgery, or one for no probe).
    void Forge(uint16_t sequence, uint32_t from, uint32_t status, uint32_t afterMs) {
        arrivals_.push_back(
            {now_ + std::chrono::milliseconds(afterMs), now_, {sequence, status, {from, status, 0, 0, {}}, 0}});
    }
    // Milliseconds the fake clock has run.
    int64_t ElapsedMs() const { return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - start_).count(); }

    EchoClock::time_point Now() const override { return now_; }
    unsigned Room() const override { return room; }
    uint32_t GraceMs() const override { return graceMs; }
    std::optional<EchoClock::time_point> Send(const EchoProbe &probe) override {
        sent.push_back({probe.ttl, probe.sequence, now_});
        if (auto it = replies.find(probe.ttl); it != replies.end())
            for (int i = 0; i < it->second.copies; ++i)
                Forge(probe.sequence, it->second.from, it->second.status, it->second.afterMs);
        return now_;
    }
    std::optional<EchoHeard> Receive(EchoClock::time_point until) override {
        auto first = std::min_element(arrivals_.begin(), arrivals_.end(),
                                      [](const Arrival &a, const Arrival &b) { return a.at < b.at; });
        if (first == arrivals_.end() || first->at > until) {
            now_ = std::max(now_, until);
            return std::nullopt;
        }
        now_ = std::max(now_, first->at);
        EchoHeard heard = first->heard;
        heard.roundTripMs =
            uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(first->at - first->sent).count());
        arrivals_.erase(first);
        return heard;
    }

  private:
    struct Arrival {
        EchoClock::time_point at, sent;
        EchoHeard heard;
    };
    EchoClock::time_point start_{std::chrono::hours(1)}, now_ = start_;
    std::vector<Arrival> arrivals_;
};

} // namespace rt::platform
