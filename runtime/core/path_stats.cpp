#include "path_stats.h"

#include <algorithm>
#include <cmath>

namespace rt {

namespace {

// The probe whose answer the hop's row shows: the last one answered, or none.
const ProbeRecord *Answered(const HopRecord &hop) {
    for (auto probe = hop.probes.rbegin(); probe != hop.probes.rend(); ++probe)
        if (probe->answer != AnswerKind::None) return &*probe;
    return nullptr;
}

// Counts an answer from `from` at the hop.
void Heard(HopStats &hop, uint32_t from, const std::string &place) {
    auto it = std::find_if(hop.responders.begin(), hop.responders.end(),
                           [&](const ResponderStats &r) { return r.address == from; });
    if (it == hop.responders.end()) it = hop.responders.insert(hop.responders.end(), {from, 0, place});
    ++it->answers;
    it->place = place;
    // The most answers first; among equals, the first heard keeps its place.
    std::stable_sort(hop.responders.begin(), hop.responders.end(),
                     [](const ResponderStats &a, const ResponderStats &b) { return a.answers > b.answers; });
}

} // namespace

void PathStatsBuilder::AddRound(const TraceRecord &round, int32_t lastHop) {
    ++stats_.rounds;
    if (round.address) stats_.address = round.address;
    else return; // the name did not resolve: nothing was probed that belongs to the path
    for (const HopRecord &hop : round.hops) {
        if (hop.hop < 1 || hop.hop > lastHop) break;
        if (hop.probes.empty()) continue; // a row the program wrote without sending anything
        if (stats_.hops.size() < size_t(hop.hop)) {
            for (int32_t n = int32_t(stats_.hops.size()) + 1; n <= hop.hop; ++n) {
                stats_.hops.emplace_back();
                stats_.hops.back().hop = n;
            }
            running_.resize(stats_.hops.size());
        }
        HopStats &h = stats_.hops[size_t(hop.hop) - 1];
        Running &r = running_[size_t(hop.hop) - 1];
        ++h.sent;
        if (const ProbeRecord *probe = Answered(hop)) {
            const double ms = probe->roundTripMs;
            ++h.received;
            // Welford: the mean and the sum of squared differences, without keeping every round trip.
            const double delta = ms - r.mean;
            r.mean += delta / h.received;
            r.squares += delta * (ms - r.mean);
            if (r.previousMs) r.jitterSum += std::abs(ms - *r.previousMs);
            r.previousMs = ms;
            h.lastMs = ms;
            h.averageMs = r.mean;
            h.bestMs = h.received == 1 ? ms : std::min(h.bestMs, ms);
            h.worstMs = h.received == 1 ? ms : std::max(h.worstMs, ms);
            // The sample's standard deviation, as route tracers show it; 0 for a single answer.
            h.deviationMs = h.received > 1 ? std::sqrt(r.squares / (h.received - 1)) : 0.0;
            h.jitterMs = h.received > 1 ? r.jitterSum / (h.received - 1) : 0.0;
            if (probe->from) Heard(h, probe->from, hop.place);
        }
        if (hop.reached) {
            stats_.reached = true;
            break; // what was sent ahead past the target is not the path
        }
    }
}

void PathStatsBuilder::Reset() {
    std::optional<uint32_t> address = stats_.address; // the path's target stays what it was
    stats_ = PathStats();
    stats_.address = address;
    running_.clear();
}

} // namespace rt
