// What a hop costs besides waiting for the network: the probe's own work (request data, records
// passed by reference, the ICMP call), the lookup on the real database and the row update. The
// probe goes to loopback, whose answer takes microseconds. Target: under 1 ms per hop.
#include <arpa/inet.h>
#include <unistd.h>

#include <filesystem>

#include <benchmark/benchmark.h>

#include "contract/dll.h"
#include "app/support.h"
#include "app/trace/trace.h"

namespace {

void HopOverhead(benchmark::State &state) {
    if (!std::filesystem::exists(REAL_QQWRY)) {
        state.SkipWithError("no real database; run scripts/fetch-qqwry");
        return;
    }
    std::filesystem::current_path(std::filesystem::path(REAL_QQWRY).parent_path()); // ".\QQWry.dat"
    uint32_t handle = Dll_IcmpCreateFile();
    if (!handle) {
        state.SkipWithError("no ICMP socket (needs root or ping_group_range)");
        return;
    }
    RecordWord options[OptFields] = {64};
    RecordWord reply[RepFields] = {};
    Text hop = nullptr;
    UnitRef list{0x52010001, 0x1601002f, 0x00020004};
    for (auto _ : state) {
        *CurrentRowCell() = ResultInt(CallUnchecked(cmd::ListAppendRow, ArgUnit(list)));
        ProbeHop(handle, htonl(0x7F000001), 32, &hop, reply, options);
    }
    Dll_IcmpCloseHandle(handle);
    FreeBlock(hop);
}
BENCHMARK(HopOverhead)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
