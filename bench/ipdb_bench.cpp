// LookupLocation on the real database, the file opened and closed for every lookup as the program
// does it, memory flat however many lookups are made. The lookup's time target (5 us or less) is
// measured on a whole process by bench/lookup_process.sh.
#include <sys/resource.h>

#include <filesystem>
#include <random>

#include <benchmark/benchmark.h>

#include "app/support.h"
#include "app/ipdb/ipdb.h"

namespace {

long PeakRssKiB() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void Lookup(benchmark::State &state) {
    if (!std::filesystem::exists(REAL_QQWRY)) {
        state.SkipWithError("no real database; run scripts/fetch-qqwry");
        return;
    }
    std::mt19937 random(7);
    char address[16];
    long before = PeakRssKiB();
    for (auto _ : state) {
        uint32_t ip = uint32_t(random());
        std::snprintf(address, sizeof address, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 255, (ip >> 8) & 255, ip & 255);
        Text place = LookupLocation(address, REAL_QQWRY);
        benchmark::DoNotOptimize(place);
        FreeBlock(place);
    }
    state.counters["peak_rss_KiB"] = double(PeakRssKiB());
    state.counters["rss_growth_KiB"] = double(PeakRssKiB() - before);
}
BENCHMARK(Lookup)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
