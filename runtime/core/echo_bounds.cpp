#include "echo_bounds.h"

#include "echo_records.h"
#include "trace_records.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>

namespace rt {
namespace {

std::mutex g_mutex;
EchoBounds g_bounds;
std::atomic<bool> g_bounded{false}; // read by every request: no lock where nothing is bounded

} // namespace

void SetEchoBounds(EchoBounds bounds) {
    std::lock_guard lock(g_mutex);
    g_bounds = bounds;
    g_bounded.store(bounds.waitMs || bounds.lastTtl);
}

EchoBounds CurrentEchoBounds() {
    if (!g_bounded.load()) return {};
    std::lock_guard lock(g_mutex);
    return g_bounds;
}

uint32_t SendBoundedEcho(const EchoCall &call, const EchoSender &send) {
    EchoBounds bounds = CurrentEchoBounds();
    uint8_t ttl = 0;
    if (call.options) std::memcpy(&ttl, static_cast<const uint8_t *>(call.options) + kOptionTtl, 1);
    if (bounds.lastTtl && ttl > bounds.lastTtl) return 0; // past the last hop: nothing is sent
    EchoAsked asked{call.options, call.destination, call.dataSize, std::chrono::system_clock::now()};
    uint32_t n = send(bounds.waitMs ? bounds.waitMs : call.timeoutMs, uint8_t(std::min(bounds.lastTtl, 255u)));
    Traces().EchoAnswered(asked, call.reply, call.replySize, n);
    return n;
}

} // namespace rt
