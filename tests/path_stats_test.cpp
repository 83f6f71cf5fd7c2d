// A path's figures over rounds, from rounds traced through the echo channel over the fake transport:
// each round asks for hop 1, 2, 3 ... until the target answers, as the program's trace does, and
// its verdicts become the hop records the report takes in.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "fakes/fake_echo_transport.h"
#include "runtime/core/echo_records.h"
#include "runtime/core/path_stats.h"
#include "runtime/platform/echo_channel.h"

namespace {

using namespace rt::platform;
using rt::AnswerKind;
using rt::HopStats;
using rt::icmp::kIpSuccess;
using rt::icmp::kIpTtlExpiredTransit;

constexpr uint32_t kTarget = 0x0A0071CB; // 203.113.0.10, network byte order
constexpr uint32_t kWaitMs = 1000;

uint32_t Router(uint8_t hop, uint8_t side = 0) { return 0x000000C0u | uint32_t(side) << 16 | uint32_t(hop) << 24; }

uint16_t Counter() {
    static uint16_t next = 0;
    return ++next;
}

class PathRounds : public ::testing::Test {
  protected:
    FakeEchoTransport *net = nullptr;
    std::unique_ptr<EchoChannel> channel;
    rt::PathStatsBuilder stats;

    void SetUp() override {
        auto fake = std::make_unique<FakeEchoTransport>();
        net = fake.get();
        channel = std::make_unique<EchoChannel>(std::move(fake), Counter);
    }
    // Routers on hops 1 .. target-1, then the target, each answering after afterMs.
    void Path(uint8_t target, uint32_t afterMs = 10) {
        net->replies.clear();
        for (uint8_t hop = 1; hop < target; ++hop) net->replies[hop] = {Router(hop), kIpTtlExpiredTransit, afterMs};
        net->replies[target] = {kTarget, kIpSuccess, afterMs};
    }
    // One round as the program traces it, up to `lastTtl`, taken into the figures; `keep` hops only
    // when it was interrupted.
    rt::TraceRecord Round(uint8_t lastTtl = 30, size_t keep = 255) {
        rt::TraceRecord trace;
        trace.target = "target.test";
        trace.address = kTarget;
        for (uint8_t ttl = 1; ttl <= lastTtl && trace.hops.size() < keep; ++ttl) {
            HopResult r = SendAhead(*channel, {kTarget, {uint8_t('a')}, 0, 0, lastTtl}, ttl, kWaitMs);
            rt::ProbeRecord probe{ttl, {}, 1, kTarget, AnswerKind::None, 0, 0};
            if (r.status == kIpSuccess || r.status == kIpTtlExpiredTransit) {
                probe.answer = r.status == kIpSuccess ? AnswerKind::EchoReply : AnswerKind::TimeExceeded;
                probe.from = r.answer.from;
                probe.roundTripMs = r.roundTripMs;
            }
            rt::HopRecord hop;
            hop.hop = ttl;
            hop.probes = {probe};
            hop.reached = probe.from == kTarget;
            hop.place = probe.from ? "place of " + rt::DottedAddress(probe.from) : "";
            trace.hops.push_back(hop);
            if (hop.reached) break;
        }
        stats.AddRound(trace, lastTtl);
        return trace;
    }
    const HopStats &Hop(size_t n) { return stats.Stats().hops.at(n - 1); }
};

TEST_F(PathRounds, LossAtOneHopCountsThereOnly) {
    for (int round = 0; round < 10; ++round) {
        Path(4);
        if (round % 3 == 0) net->replies.erase(2); // rounds 0, 3, 6, 9: hop 2 stays silent
        Round();
    }
    const rt::PathStats &s = stats.Stats();
    EXPECT_EQ(s.rounds, 10u);
    EXPECT_TRUE(s.reached);
    ASSERT_EQ(s.hops.size(), 4u);
    for (size_t hop = 1; hop <= 4; ++hop) {
        SCOPED_TRACE(hop);
        EXPECT_EQ(Hop(hop).sent, 10u);
        EXPECT_EQ(Hop(hop).received, hop == 2 ? 6u : 10u);
        EXPECT_DOUBLE_EQ(Hop(hop).LossPercent(), hop == 2 ? 40.0 : 0.0);
        ASSERT_EQ(Hop(hop).responders.size(), 1u);
        EXPECT_EQ(Hop(hop).responders[0].answers, Hop(hop).received);
    }
    EXPECT_EQ(Hop(2).responders[0].place, "place of " + rt::DottedAddress(Router(2)));
}

TEST_F(PathRounds, RoundTripsGiveLastAverageBestWorstDeviationAndJitter) {
    const uint32_t trips[] = {10, 30, 20, 20};
    for (uint32_t ms : trips) {
        Path(2, ms);
        Round();
    }
    const HopStats &h = Hop(1);
    EXPECT_DOUBLE_EQ(h.lastMs, 20);
    EXPECT_DOUBLE_EQ(h.averageMs, 20);
    EXPECT_DOUBLE_EQ(h.bestMs, 10);
    EXPECT_DOUBLE_EQ(h.worstMs, 30);
    EXPECT_NEAR(h.deviationMs, std::sqrt(200.0 / 3), 1e-9); // the sample's: (100 + 100 + 0 + 0) / 3
    EXPECT_DOUBLE_EQ(h.jitterMs, (20.0 + 10 + 0) / 3);      // |30-10|, |20-30|, |20-20|

    // A single answer: no spread; none at all: every figure 0.
    stats.Reset();
    Path(2, 7);
    net->replies.erase(1);
    Round();
    EXPECT_EQ(Hop(1).received, 0u);
    EXPECT_EQ(Hop(1).lastMs + Hop(1).averageMs + Hop(1).bestMs + Hop(1).worstMs, 0);
    EXPECT_DOUBLE_EQ(Hop(2).averageMs, 7);
    EXPECT_EQ(Hop(2).deviationMs + Hop(2).jitterMs, 0);
    EXPECT_EQ(stats.Stats().rounds, 1u); // the reset forgot the rounds before
    EXPECT_EQ(stats.Stats().address, kTarget);
}

TEST_F(PathRounds, AHopWithTwoRespondersListsBothByTheirShares) {
    for (int round = 0; round < 10; ++round) {
        Path(3);
        if (round >= 3) net->replies[2].from = Router(2, 1); // the other side from round 3 on
        Round();
    }
    const HopStats &h = Hop(2);
    EXPECT_EQ(h.received, 10u);
    ASSERT_EQ(h.responders.size(), 2u);
    EXPECT_EQ(h.responders[0].address, Router(2, 1)); // 7 answers: first
    EXPECT_EQ(h.responders[0].answers, 7u);
    EXPECT_EQ(h.responders[1].address, Router(2));
    EXPECT_EQ(h.responders[1].answers, 3u);
}

TEST_F(PathRounds, APathThatChangesLengthShowsTheLongestAndNothingSentAheadPastTheTarget) {
    Path(3);
    Round();
    ASSERT_GT(net->sent.size(), 3u);          // probes went ahead past the target...
    EXPECT_EQ(stats.Stats().hops.size(), 3u); // ...and are not the path
    Path(5);
    Round();
    Path(3);
    Round();
    ASSERT_EQ(stats.Stats().hops.size(), 5u);
    const uint32_t sent[] = {3, 3, 3, 1, 1};
    for (size_t hop = 1; hop <= 5; ++hop) EXPECT_EQ(Hop(hop).sent, sent[hop - 1]) << hop;
    EXPECT_EQ(Hop(3).responders.size(), 2u); // the target, then a router in its place
    EXPECT_EQ(Hop(3).responders[0].address, kTarget);

    // Rows after the one that reached the target, or past the last hop, are not counted either.
    rt::TraceRecord odd = Round();
    odd.hops.push_back(odd.hops.back());
    odd.hops.back().hop = 4;
    stats.AddRound(odd, 30);
    stats.AddRound(odd, 2);
    EXPECT_EQ(Hop(4).sent, 1u);
    EXPECT_EQ(Hop(3).sent, 5u);
}

TEST_F(PathRounds, LateAnswersAndAnswersOfAnEarlierRoundAreLosses) {
    Path(3);
    net->replies[2].afterMs = kWaitMs + 50; // hop 2's answer comes after its wait
    Round();
    Path(3);
    net->replies.erase(2);
    for (const auto &probe : net->sent) // last round's answers, arriving now for the same hops
        if (probe.ttl == 2) net->Forge(probe.sequence, Router(2), kIpTtlExpiredTransit, 1);
    net->sent.clear();
    Round();
    EXPECT_EQ(Hop(2).sent, 2u);
    EXPECT_EQ(Hop(2).received, 0u);
    EXPECT_TRUE(Hop(2).responders.empty());
    EXPECT_EQ(Hop(3).received, 2u);
}

TEST_F(PathRounds, AnInterruptedRoundCountsTheHopsItProbedAndAnUnresolvedOneNothing) {
    Path(4);
    Round();
    Round(30, 2); // interrupted after hop 2
    EXPECT_EQ(stats.Stats().rounds, 2u);
    const uint32_t sent[] = {2, 2, 1, 1};
    for (size_t hop = 1; hop <= 4; ++hop) EXPECT_EQ(Hop(hop).sent, sent[hop - 1]) << hop;

    stats.Reset();
    Round(30, 3); // a first round cut short before the target answered
    EXPECT_FALSE(stats.Stats().reached);

    rt::PathStatsBuilder unresolved;
    rt::TraceRecord trace = Round();
    trace.address.reset();
    unresolved.AddRound(trace, 30);
    EXPECT_EQ(unresolved.Stats().rounds, 1u);
    EXPECT_TRUE(unresolved.Stats().hops.empty());
    EXPECT_FALSE(unresolved.Stats().reached);
}

} // namespace
