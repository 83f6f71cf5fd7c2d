// What watches a report's rounds as they run: the live view. The rounds run without one too; with
// one, it is shown the figures after every round and decides when the next round starts (its user
// may pause, reset the figures or stop).
#pragma once

#include <chrono>

#include "runtime/core/path_stats.h"

namespace rt {

enum class RoundsNext {
    Go,    // start the next round
    Reset, // forget the figures so far, then start the next round
    Stop,  // no more rounds: print the final figures and end
};

class RoundsObserver {
  public:
    virtual ~RoundsObserver() = default;
    // After each round and after a reset, on the thread that runs the rounds, with the figures so far.
    virtual void RoundEnded(const PathStats &stats) = 0;
    // Before the next round: returns at `due` (the round's start) with Go, or earlier with Stop or
    // Reset; while its user has paused, it does not return Go.
    virtual RoundsNext WaitForNextRound(std::chrono::steady_clock::time_point due) = 0;
    // The rounds are over (their number reached, stopped, or interrupted): called once, before the
    // final figures are printed, so the view can give the terminal back first.
    virtual void Finish() = 0;
};

} // namespace rt
