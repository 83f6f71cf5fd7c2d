// The command-call path: an argument triple array, service slot 0x0c, dispatch by number, the
// command, a new runtime text, and freeing it. Target: under 100 ns per call.
#include <benchmark/benchmark.h>

#include "app/support.h"

static void LeftOfText(benchmark::State &state) {
    for (auto _ : state) {
        Text t = ResultText(CallUnchecked(cmd::TextLeft, ArgText("192.168.100.200"), ArgInt(3)));
        benchmark::DoNotOptimize(t);
        RtFree(t);
    }
}
BENCHMARK(LeftOfText);

static void LengthOfText(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(ResultInt(CallUnchecked(cmd::TextLength, ArgText("192.168.100.200"))));
}
BENCHMARK(LengthOfText);

static void HexOfNumber(benchmark::State &state) {
    int32_t v = 0;
    for (auto _ : state) {
        Text t = ResultText(CallUnchecked(cmd::HexText, ArgInt(v++)));
        benchmark::DoNotOptimize(t);
        RtFree(t);
    }
}
BENCHMARK(HexOfNumber);

static void JoinThreeTexts(benchmark::State &state) {
    for (auto _ : state) {
        Text t = JoinTexts("192", ".", "168");
        benchmark::DoNotOptimize(t);
        RtFree(t);
    }
}
BENCHMARK(JoinThreeTexts);

BENCHMARK_MAIN();
