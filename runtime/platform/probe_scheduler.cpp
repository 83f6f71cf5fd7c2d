#include "probe_scheduler.h"

namespace rt::platform {

using icmp::kIpGeneralFailure;
using icmp::kIpReqTimedOut;

bool ProbeScheduler::Ask(const TraceShape &trace, uint8_t ttl) {
    bool same = open_ && trace_ == trace;
    if (same && (probes_.contains(ttl) || ttl == nextTtl_)) return false;
    probes_.clear();
    open_ = true;
    trace_ = trace;
    nextTtl_ = ttl;
    targetAnswered_ = false;
    return true;
}

std::optional<uint8_t> ProbeScheduler::NextSend(uint8_t asked, unsigned room) {
    if (!open_ || nextTtl_ > trace_.lastTtl || nextTtl_ >= unsigned(asked) + kWindow) return std::nullopt;
    if (nextTtl_ != asked && (targetAnswered_ || room == 0)) return std::nullopt;
    uint8_t ttl = uint8_t(nextTtl_++);
    probes_[ttl] = {};
    return ttl;
}

void ProbeScheduler::Sent(uint8_t ttl, uint16_t sequence, uint32_t timeoutMs, EchoClock::time_point at) {
    probes_[ttl] = {sequence, timeoutMs, at, false, {}};
}

void ProbeScheduler::Unsent(uint8_t ttl) {
    Probe &p = probes_[ttl];
    p.done = true;
    p.result = {kIpGeneralFailure, {}, 0, false};
}

void ProbeScheduler::Heard(const EchoHeard &heard) {
    for (auto &[ttl, p] : probes_) {
        if (p.done || p.sequence != heard.sequence) continue;
        bool answered = heard.status != kIpReqTimedOut && heard.status != kIpGeneralFailure;
        if (answered && heard.roundTripMs > p.timeoutMs) return; // a late answer counts for nothing
        p.done = true;
        p.result.status = heard.status;
        if (!answered) return;
        p.result.answer = heard.answer;
        p.result.answer.data = {};
        p.result.roundTripMs = heard.roundTripMs;
        if (heard.answer.from == trace_.destination) targetAnswered_ = true;
        return;
    }
}

void ProbeScheduler::FailAll(uint32_t status) {
    for (auto &[ttl, p] : probes_)
        if (!p.done) {
            p.done = true;
            p.result = {status, {}, 0, false};
        }
}

EchoClock::time_point ProbeScheduler::Deadline(uint8_t ttl) const {
    auto it = probes_.find(ttl);
    if (it == probes_.end()) return {};
    return it->second.sent + std::chrono::milliseconds(uint64_t(it->second.timeoutMs) + graceMs_);
}

std::optional<HopResult> ProbeScheduler::Take(uint8_t ttl, EchoClock::time_point now) {
    auto it = probes_.find(ttl);
    if (it == probes_.end()) return HopResult{kIpGeneralFailure, {}, 0, false}; // never asked for
    if (!it->second.done && now < Deadline(ttl)) return std::nullopt;
    HopResult result = it->second.done ? it->second.result : HopResult{kIpReqTimedOut, {}, 0, true};
    probes_.erase(it);
    return result;
}

} // namespace rt::platform
