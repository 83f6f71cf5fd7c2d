// The live view fed by rounds of its own, as the report's rounds drive it, without a network:
//   watch_driver ROUNDS INTERVAL_MS   (ROUNDS 0: until the view stops)
// Hop 2 answers from two addresses in turn; the places are East Asian texts. While the view is up
// a message goes to standard error; after it, "final: N rounds" to standard output.
#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "formats/text/text.h"
#include "runtime/frontends/watch/watch_view.h"

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    const long rounds = std::atol(argv[1]);
    const auto interval = std::chrono::milliseconds(std::atol(argv[2]));
    auto view = rt::OpenWatchView({"watch.test", [](uint32_t) { return std::string("-"); }, 1, 0});
    if (!view) {
        std::fprintf(stderr, "watch_driver: %s\n", view.error().c_str());
        return 2;
    }
    std::fprintf(stderr, "watch_driver: a message while the view is up\n");

    rt::PathStats stats;
    stats.address = ::inet_addr("203.0.113.2");
    auto responder = [](const char *address, const char *place) {
        return rt::ResponderStats{::inet_addr(address), 0, rt::Utf8ToGbk(place)};
    };
    auto reset = [&] {
        stats.rounds = 0;
        stats.hops.clear();
        stats.hops.resize(3);
        for (int32_t n = 1; n <= 3; ++n) stats.hops[size_t(n - 1)].hop = n;
        stats.hops[0].responders = {responder("192.0.2.2", "江苏南京 电信")};
        stats.hops[1].responders = {responder("198.51.100.2", "测试网 甲"), responder("198.51.100.9", "测试网 乙")};
        stats.hops[2].responders = {responder("203.0.113.2", "TEST-NET")};
    };
    reset();
    auto due = std::chrono::steady_clock::now();
    for (;;) {
        ++stats.rounds;
        for (rt::HopStats &hop : stats.hops) {
            ++hop.sent;
            ++hop.received;
            hop.lastMs = hop.averageMs = hop.bestMs = hop.worstMs = 0.5 * hop.hop;
            hop.responders[hop.responders.size() > 1 ? stats.rounds % 2 : 0].answers++;
        }
        stats.reached = true;
        view->get()->RoundEnded(stats);
        if (rounds > 0 && stats.rounds >= uint32_t(rounds)) break;
        due += interval;
        rt::RoundsNext next = view->get()->WaitForNextRound(due);
        if (next == rt::RoundsNext::Stop) break;
        if (next == rt::RoundsNext::Reset) {
            reset();
            view->get()->RoundEnded(stats);
            due = std::chrono::steady_clock::now();
        }
    }
    view->get()->Finish();
    std::printf("final: %u rounds\n", stats.rounds);
    return 0;
}
