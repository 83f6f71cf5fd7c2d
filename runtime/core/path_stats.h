// A path measured over rounds, as network people read one: per hop, how many probes went and came
// back, the round trips' last, average, best, worst, standard deviation and jitter, and every
// address that answered there. Built from the trace's records (trace_records.h), one round at a
// time, so the report's table, JSON and CSV and the live view all show the same figures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/core/trace_records.h"

namespace rt {

// One address that answered at a hop.
struct ResponderStats {
    uint32_t address = 0; // network byte order
    uint32_t answers = 0; // rounds in which it answered this hop
    std::string place;    // the place the program's row gave it (GBK), the last time it answered
};

// One hop over the rounds that probed it.
struct HopStats {
    int32_t hop = 0;
    // Rounds that probed this hop before the target answered, and those in which it answered.
    uint32_t sent = 0, received = 0;
    // Round trips in milliseconds over the answers (all 0 without one). Jitter is the mean absolute
    // difference of successive round trips at this hop.
    double lastMs = 0, averageMs = 0, bestMs = 0, worstMs = 0, deviationMs = 0, jitterMs = 0;
    std::vector<ResponderStats> responders; // the most answers first, then the first heard first

    double LossPercent() const { return sent ? 100.0 * (sent - received) / sent : 0.0; }
};

// The whole path so far.
struct PathStats {
    std::optional<uint32_t> address; // the target's address, once resolved (network byte order)
    uint32_t rounds = 0;             // rounds taken in
    bool reached = false;            // the target answered in some round
    std::vector<HopStats> hops;      // hop 1 first, as long as the longest round
};

// Takes in one round after another.
class PathStatsBuilder {
  public:
    // One round's trace, its hops up to and including `lastHop` (the report's bound): a hop counts
    // as sent when the round's program probed it, and received when an answer came for it.
    void AddRound(const TraceRecord &round, int32_t lastHop);
    // Forgets every round (the live view's reset).
    void Reset();
    const PathStats &Stats() const { return stats_; }

  private:
    // Per hop: Welford's running mean and sum of squared differences, and the previous round trip.
    struct Running {
        double mean = 0, squares = 0, jitterSum = 0;
        std::optional<double> previousMs;
    };
    PathStats stats_;
    std::vector<Running> running_;
};

} // namespace rt
