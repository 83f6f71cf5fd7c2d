// An AS lookup on the real table (data/asn.dat, made by scripts/fetch-asn) in one process: the
// table opened and checked once, then random addresses looked up. Goal: at most 1 us a lookup.
// Also prints the table's size against its source's, and what opening it (the checks) costs.
#include <filesystem>
#include <random>

#include <benchmark/benchmark.h>

#include "formats/asn/asn_table.h"
#include "formats/io/io.h"

namespace {

std::span<const uint8_t> Bytes(const std::string &s) { return {reinterpret_cast<const uint8_t *>(s.data()), s.size()}; }

const std::string &Table() {
    static const std::string bytes = rt::io::ReadFile(REAL_ASN, size_t(1) << 28).value_or("");
    return bytes;
}

void Lookup(benchmark::State &state) {
    auto table = asn::Table::Open(Bytes(Table()));
    if (!table) {
        state.SkipWithError("no real AS table; run scripts/fetch-asn");
        return;
    }
    std::mt19937 random(7);
    uint32_t found = 0;
    for (auto _ : state) {
        auto network = table->Lookup(uint32_t(random()));
        found += network.has_value();
        benchmark::DoNotOptimize(network);
    }
    state.counters["found"] = double(found) / double(state.iterations());
    state.counters["goal_us"] = 1;
    auto source = std::filesystem::exists(REAL_ASN_SOURCE) ? std::filesystem::file_size(REAL_ASN_SOURCE) : 0;
    state.counters["table_MiB"] = double(Table().size()) / (1 << 20);
    state.counters["source_MiB"] = double(source) / (1 << 20);
}
BENCHMARK(Lookup)->Unit(benchmark::kNanosecond);

void Open(benchmark::State &state) {
    for (auto _ : state) benchmark::DoNotOptimize(asn::Table::Open(Bytes(Table())).ok());
}
BENCHMARK(Open)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
