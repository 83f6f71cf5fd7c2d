// The sequence numbers of one channel's echo requests (a trace's): each drawn at random, none twice.
// A node that sees one probe then learns nothing about the others, so it cannot forge an answer to
// them; consecutive numbers would give the whole trace away.
//
// Header-only, without exceptions or allocation: the ICMP helper links against libc alone and uses
// it as the program's datagram channel does.
#pragma once

#include <cstdint>

namespace rt::icmp {

class SequenceDrawer {
  public:
    // A number not drawn before, from `random` (any callable giving a uniformly random uint16_t).
    // Once every number has been drawn, the drawer starts afresh.
    template <class Random> uint16_t Draw(Random &&random) {
        if (count_ == kValues) Reset();
        uint16_t value = random();
        // Retries on a used number; near the end of the numbers that could take long, so after a
        // bounded number of tries the first free number after the last random one is taken.
        for (int attempt = 1; Used(value) && attempt < kAttempts; ++attempt) value = random();
        while (Used(value)) ++value; // ends: fewer than kValues are used
        used_[value / 64] |= uint64_t(1) << (value % 64);
        ++count_;
        return value;
    }

    bool Used(uint16_t value) const { return used_[value / 64] >> (value % 64) & 1; }

  private:
    static constexpr uint32_t kValues = 65536;
    static constexpr int kAttempts = 64;

    void Reset() {
        for (uint64_t &word : used_) word = 0;
        count_ = 0;
    }

    uint64_t used_[kValues / 64] = {};
    uint32_t count_ = 0;
};

} // namespace rt::icmp
