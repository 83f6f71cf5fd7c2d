// Probing ahead without a network: the scheduler and the channel that drives it, over a fake
// transport on a fake clock. A trace asks for hop 1, 2, 3 ... and stops where the target answered,
// as the program's own trace does. Last, the echo bounds that every platform applies to each request.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "fakes/fake_echo_transport.h"
#include "runtime/core/echo_bounds.h"
#include "runtime/core/echo_records.h"
#include "runtime/platform/echo_channel.h"

namespace {

using namespace rt::platform;
using rt::icmp::kIpGeneralFailure;
using rt::icmp::kIpReqTimedOut;
using rt::icmp::kIpSuccess;
using rt::icmp::kIpTtlExpiredTransit;

constexpr uint32_t kTarget = 0x0A0071CB; // 203.113.0.10, network byte order
constexpr uint32_t kWaitMs = 1000;

uint32_t Router(uint8_t hop) { return 0x010000C0u | uint32_t(hop) << 24; } // 192.0.0.hop

// Sequence numbers 1, 2, 3 ... so that a test can forge numbers no probe carries.
uint16_t Counter() {
    static uint16_t next = 0;
    return ++next;
}

struct Traced {
    std::vector<HopResult> hops;
    int64_t elapsedMs;
};

class ProbingAhead : public ::testing::Test {
  protected:
    FakeEchoTransport *net = nullptr;
    std::unique_ptr<EchoChannel> channel;

    void SetUp() override {
        auto fake = std::make_unique<FakeEchoTransport>();
        net = fake.get();
        channel = std::make_unique<EchoChannel>(std::move(fake), Counter);
    }
    // A path of routers on hops 1 .. target-1 answering after `afterMs`, then the target.
    void Path(uint8_t target, uint32_t afterMs = 10) {
        for (uint8_t hop = 1; hop < target; ++hop) net->replies[hop] = {Router(hop), kIpTtlExpiredTransit, afterMs};
        net->replies[target] = {kTarget, kIpSuccess, afterMs};
    }
    Traced Trace(uint8_t lastTtl) {
        Traced t{{}, 0};
        int64_t start = net->ElapsedMs();
        for (unsigned hop = 1; hop <= lastTtl; ++hop) {
            t.hops.push_back(
                SendAhead(*channel, {kTarget, {uint8_t('a'), uint8_t('a')}, 0, 0, lastTtl}, uint8_t(hop), kWaitMs));
            if (t.hops.back().answer.from == kTarget) break;
        }
        t.elapsedMs = net->ElapsedMs() - start;
        return t;
    }
    uint16_t SequenceSentTo(uint8_t ttl) const {
        for (auto &s : net->sent)
            if (s.ttl == ttl) return s.sequence;
        return 0;
    }
};

TEST_F(ProbingAhead, SilentHopsWaitOutOneWaitTogetherAndEachAnswerKeepsItsOwnTime) {
    Path(6);
    for (int hop : {2, 3, 4}) net->replies.erase(uint8_t(hop));
    net->replies[5].afterMs = 40;
    Traced t = Trace(30);
    ASSERT_EQ(t.hops.size(), 6u);
    EXPECT_EQ(t.hops[0].answer.from, Router(1));
    for (int i : {1, 2, 3}) EXPECT_EQ(t.hops[size_t(i)].status, kIpReqTimedOut) << "hop " << i + 1;
    EXPECT_EQ(t.hops[4].roundTripMs, 40u);
    EXPECT_EQ(t.hops[5].status, kIpSuccess);
    EXPECT_EQ(t.elapsedMs, kWaitMs); // not one wait per silent hop
    EXPECT_EQ(net->sent.size(), ProbeScheduler::kWindow);
}

TEST_F(ProbingAhead, AnswersOutOfOrderGoToTheirOwnHops) {
    Path(4);
    net->replies[1].afterMs = 300;
    net->replies[2].afterMs = 200;
    net->replies[3].afterMs = 100;
    Traced t = Trace(4);
    ASSERT_EQ(t.hops.size(), 4u);
    for (uint8_t hop = 1; hop <= 3; ++hop) {
        EXPECT_EQ(t.hops[hop - 1u].answer.from, Router(hop));
        EXPECT_EQ(t.hops[hop - 1u].roundTripMs, 400u - 100u * hop);
    }
}

TEST_F(ProbingAhead, OnlyAnAnswerThatCarriesTheProbesNumberWithinItsWaitCounts) {
    Path(3);
    net->replies[1].copies = 3;                 // duplicates of hop 1's answer
    net->replies[2].afterMs = 1500;             // after its wait
    net->Forge(0xBEEF, kTarget, kIpSuccess, 5); // for a probe never sent
    Traced t = Trace(3);
    ASSERT_EQ(t.hops.size(), 3u);
    EXPECT_EQ(t.hops[0].answer.from, Router(1));
    EXPECT_EQ(t.hops[1].status, kIpReqTimedOut);
    EXPECT_EQ(t.hops[2].answer.from, kTarget);
    EXPECT_EQ(net->sent.size(), 3u);
}

TEST_F(ProbingAhead, NothingIsSentAheadOnceTheTargetHasAnsweredNorPastTheLastHop) {
    Path(3);
    net->replies[3].afterMs = 5; // the target answers before the hops before it
    net->replies[1].afterMs = 50;
    Traced t = Trace(30);
    ASSERT_EQ(t.hops.size(), 3u);
    EXPECT_EQ(t.hops[0].answer.from, Router(1));
    EXPECT_EQ(net->sent.size(), ProbeScheduler::kWindow); // the first window only

    net->sent.clear();
    net->replies.clear();
    Traced limited = Trace(5);
    EXPECT_EQ(limited.hops.size(), 5u);
    ASSERT_EQ(net->sent.size(), 5u);
    EXPECT_EQ(net->sent.back().ttl, 5);
}

TEST_F(ProbingAhead, RoundAfterRoundEachHopIsProbedOnceAndAStaleAnswerIsNotTaken) {
    Path(20);
    for (int round = 0; round < 5; ++round) {
        uint16_t stale = SequenceSentTo(7); // of the round before
        net->sent.clear();
        if (round > 0) net->Forge(stale, kTarget, kIpSuccess, 1);
        Traced t = Trace(30);
        ASSERT_EQ(t.hops.size(), 20u) << "round " << round;
        EXPECT_EQ(t.hops[19].answer.from, kTarget);
        // The window slid past the target before its answer came: each hop up to the last, once.
        ASSERT_EQ(net->sent.size(), 30u) << "round " << round;
        for (size_t i = 0; i < 30; ++i) EXPECT_EQ(net->sent[i].ttl, i + 1) << "round " << round;
        for (uint8_t hop = 1; hop < 20; ++hop) EXPECT_EQ(t.hops[hop - 1u].answer.from, Router(hop));
    }
}

TEST_F(ProbingAhead, WithoutRoomOnlyTheHopAskedForIsSent) {
    Path(4);
    net->room = 0;
    Traced t = Trace(30);
    EXPECT_EQ(t.hops.size(), 4u);
    EXPECT_EQ(net->sent.size(), 4u);
}

// The scheduler alone: one probe in flight, and what it makes of each thing heard.
TEST(ProbeScheduler, FilesOnlyTheVerdictThatBelongsToTheProbe) {
    const EchoClock::time_point t0{std::chrono::seconds(10)};
    const struct {
        const char *what;
        EchoHeard heard;
        uint32_t status;
        bool overdue;
    } cases[] = {
        {"its answer",
         {7, kIpTtlExpiredTransit, {Router(1), kIpTtlExpiredTransit, 0, 0, {}}, 20},
         kIpTtlExpiredTransit,
         false},
        {"the transport's verdict", {7, kIpGeneralFailure, {}, 0}, kIpGeneralFailure, false},
        {"an answer after its wait",
         {7, kIpSuccess, {kTarget, kIpSuccess, 0, 0, {}}, kWaitMs + 1},
         kIpReqTimedOut,
         true},
        {"an answer to a probe never sent", {8, kIpSuccess, {kTarget, kIpSuccess, 0, 0, {}}, 20}, kIpReqTimedOut, true},
    };
    for (const auto &c : cases) {
        ProbeScheduler s(500);
        s.Ask({kTarget, {}, 0, 0, 1}, 1);
        ASSERT_EQ(s.NextSend(1, 16), 1);
        EXPECT_EQ(s.NextSend(1, 16), std::nullopt) << "past the last hop";
        s.Sent(1, 7, kWaitMs, t0);
        s.Heard(c.heard);
        if (c.overdue) {
            EXPECT_EQ(s.Take(1, t0 + std::chrono::milliseconds(kWaitMs + 499)), std::nullopt) << c.what;
            EXPECT_EQ(s.Deadline(1), t0 + std::chrono::milliseconds(kWaitMs + 500)) << c.what;
        }
        auto result = s.Take(1, t0 + std::chrono::milliseconds(kWaitMs + 500));
        ASSERT_TRUE(result) << c.what;
        EXPECT_EQ(result->status, c.status) << c.what;
        EXPECT_EQ(result->overdue, c.overdue) << c.what;
    }
}

} // namespace

namespace {

// The rule both platforms' echo commands follow: the report's wait and last hop.
TEST(EchoBounds, ARequestPastTheLastHopIsNotSentAndTheOthersWaitAsTheBoundsSay) {
    const struct {
        const char *what;
        rt::EchoBounds bounds;
        uint8_t ttl;
        bool sent;
        uint32_t waitMs;
        uint8_t lastTtl;
    } cases[] = {
        {"no bounds", {0, 0}, 40, true, 2400, 0},
        {"the last hop", {1000, 30}, 30, true, 1000, 30},
        {"past the last hop", {1000, 30}, 31, false, 0, 0},
        {"a last hop past the largest time-to-live", {0, 300}, 255, true, 2400, 255},
    };
    for (const auto &c : cases) {
        rt::SetEchoBounds(c.bounds);
        uint8_t options[8] = {c.ttl};
        uint8_t reply[rt::kReplyHeaderSize] = {};
        bool sent = false;
        uint32_t waitMs = 0;
        uint8_t lastTtl = 0;
        rt::SendBoundedEcho({0x0100007F, options, 0, reply, sizeof reply, 2400}, [&](uint32_t w, uint8_t last) {
            sent = true;
            waitMs = w;
            lastTtl = last;
            return 0u;
        });
        EXPECT_EQ(sent, c.sent) << c.what;
        EXPECT_EQ(waitMs, c.waitMs) << c.what;
        EXPECT_EQ(lastTtl, c.lastTtl) << c.what;
    }
    rt::SetEchoBounds({});
}

} // namespace
