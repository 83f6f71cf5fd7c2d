// A token bucket over a clock of the caller's: a burst of `burst` sends at once, then one send per
// `intervalMs` milliseconds sustained. The ICMP helper paces its probes with it, so that no caller
// can make it a flood tool, while a trace that sends its window of probes at once never waits.
//
// Pure and header-only (the helper links against libc alone): the caller passes the time, in
// milliseconds of a monotonic clock, and sends only when TryTake says so.
#pragma once

#include <cstdint>

namespace rt::icmp {

class RateLimiter {
  public:
    constexpr RateLimiter(uint32_t burst, uint32_t intervalMs)
        : interval_(intervalMs), slack_(uint64_t(burst > 0 ? burst - 1 : 0) * intervalMs) {}

    // Takes a token when one is there at `now`: true, and the send may go. False: nothing taken.
    bool TryTake(uint64_t now) {
        now = Seen(now);
        if (WaitAt(now)) return false;
        // The bucket never holds more than `burst`: an idle spell counts from now, not from the past.
        full_ = (full_ > now ? full_ : now) + interval_;
        return true;
    }

    // Milliseconds from `now` until a token is there; 0 when one is there now.
    uint64_t WaitMs(uint64_t now) const { return WaitAt(now > last_ ? now : last_); }

  private:
    // A clock that goes back is taken as standing still: it never hands out tokens again.
    uint64_t Seen(uint64_t now) {
        if (now > last_) last_ = now;
        return last_;
    }
    // The bucket is written as the time it is full again (`full_`): a send may go while that time is
    // no more than `burst - 1` intervals ahead.
    uint64_t WaitAt(uint64_t now) const { return full_ > now + slack_ ? full_ - (now + slack_) : 0; }

    uint64_t interval_;
    uint64_t slack_;
    uint64_t full_ = 0; // the time at which every token is back
    uint64_t last_ = 0; // the latest time seen
};

} // namespace rt::icmp
