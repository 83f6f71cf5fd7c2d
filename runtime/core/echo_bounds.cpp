#include "echo_bounds.h"

#include <atomic>
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

} // namespace rt
