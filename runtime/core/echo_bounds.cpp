#include "echo_bounds.h"

#include <atomic>
#include <mutex>

namespace rt {
namespace {

std::mutex g_mutex;
EchoBounds g_bounds;
std::function<void(const EchoOutcome &)> g_observer;
std::atomic<bool> g_bounded{false}; // read by every request: no lock where nothing is bounded
std::atomic<bool> g_refused{false};

} // namespace

void SetEchoBounds(EchoBounds bounds, std::function<void(const EchoOutcome &)> observer) {
    std::lock_guard lock(g_mutex);
    g_bounds = bounds;
    g_observer = std::move(observer);
    g_bounded.store(bounds.waitMs || bounds.lastTtl || g_observer);
}

EchoBounds CurrentEchoBounds() {
    if (!g_bounded.load()) return {};
    std::lock_guard lock(g_mutex);
    return g_bounds;
}

void NoteEchoOutcome(const EchoOutcome &outcome) {
    if (!g_bounded.load()) return;
    std::function<void(const EchoOutcome &)> observer;
    {
        std::lock_guard lock(g_mutex);
        observer = g_observer;
    }
    if (observer) observer(outcome);
}

void NoteEchoHandleOpened(bool opened) { g_refused.store(!opened); }
bool EchoHandleRefused() { return g_refused.load(); }

} // namespace rt
