// What keeps the ICMP helper from being a flood tool and probes from being guessed: its token
// bucket (on a clock the test sets) and the sequence numbers of one channel.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <vector>

#include "formats/packet/echo_service.h"
#include "formats/packet/rate_limiter.h"
#include "formats/packet/sequence_drawer.h"

namespace icmp = rt::icmp;

namespace {

TEST(ProbePacing, ABurstOfSixteenThenOneProbePerTwoMilliseconds) {
    icmp::RateLimiter pace(icmp::kEchoServiceBurst, icmp::kEchoServiceIntervalMs);
    // At each time, as many probes as the bucket lets go, and the wait for the next one after them.
    const struct {
        const char *what;
        uint64_t now;
        int taken;
        uint64_t wait;
    } steps[] = {
        {"a full bucket", 1000, 16, 2},
        {"half an interval", 1001, 0, 1},
        {"one interval", 1002, 1, 2},
        {"four intervals", 1010, 4, 2},
        {"the clock standing still", 1010, 0, 2},
        {"the clock going back", 500, 0, 2},
        {"a long pause refills no more than the burst", 100000, 16, 2},
        {"then the pace again", 100001, 0, 1},
    };
    for (const auto &s : steps) {
        int taken = 0;
        while (taken < 100 && pace.TryTake(s.now)) ++taken;
        EXPECT_EQ(taken, s.taken) << s.what;
        EXPECT_EQ(pace.WaitMs(s.now), s.wait) << s.what;
    }

    // A caller that tries every millisecond for a second: the burst, then 500 a second.
    icmp::RateLimiter hard(icmp::kEchoServiceBurst, icmp::kEchoServiceIntervalMs);
    int sent = 0;
    for (uint64_t now = 0; now < 1000; ++now)
        while (hard.TryTake(now)) ++sent;
    EXPECT_EQ(sent, 16 + 499);
}

TEST(ProbePacing, SequenceNumbersAreNeverRepeatedNorConsecutive) {
    std::mt19937 generator(28);
    auto random = [&] { return uint16_t(generator()); };
    uint16_t fixed = 7;
    auto stuck = [&] { return fixed; }; // a source that repeats itself still gives no number twice
    const struct {
        const char *what;
        std::function<uint16_t()> source;
        size_t draws;
    } cases[] = {
        {"random, every number once", random, 65536},
        {"a stuck source", stuck, 2000},
    };
    for (const auto &c : cases) {
        icmp::SequenceDrawer drawer;
        std::vector<bool> seen(65536);
        for (size_t i = 0; i < c.draws; ++i) {
            uint16_t v = drawer.Draw(c.source);
            ASSERT_FALSE(seen[v]) << c.what << ": " << v << " drawn twice";
            seen[v] = true;
        }
        if (c.draws < 65536) continue;
        std::set<uint16_t> afresh; // every number used: the drawer starts again, still none twice
        for (int i = 0; i < 100; ++i) afresh.insert(drawer.Draw(c.source));
        EXPECT_EQ(afresh.size(), 100u) << c.what;
    }

    // One trace's probes (a window of 16 and more): no number follows from the one before it.
    icmp::SequenceDrawer drawer;
    uint16_t previous = drawer.Draw(random);
    for (int i = 0; i < 30; ++i) {
        uint16_t next = drawer.Draw(random);
        EXPECT_NE(uint16_t(next - previous), 1u) << next;
        EXPECT_NE(uint16_t(previous - next), 1u) << next;
        previous = next;
    }
}

} // namespace
