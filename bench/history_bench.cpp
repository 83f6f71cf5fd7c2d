// Saving a long target history: the start button's RecordHistory with 50,000 entries in the target
// box (it keeps the newest 1,000 and the new target), through the real handler, the runtime's model
// and the real file. Target: under 200 ms.
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "app/commands.h"
#include "app/window/ui.h"
#include "contract/identifiers.h"
#include "runtime/core/runtime.h"

namespace {

void SaveHistory(benchmark::State &state) {
    std::string folder = (std::filesystem::temp_directory_path() / "rt-history-bench").string();
    std::filesystem::create_directories(folder);
    rt::Runtime::Instance().SetProgramFolder(folder);
    UnitRef box{RT_SYMBOL_VALUE(Id_MainWindow), RT_SYMBOL_VALUE(Id_TargetBox), RT_SYMBOL_VALUE(Type_ComboBox)};
    ComboClear(box);
    for (int i = 0; i < state.range(0); ++i) ComboAppend(box, ("host" + std::to_string(i) + ".example").c_str());
    RtSetProperty(RT_SYMBOL_VALUE(Id_MainWindow), RT_SYMBOL_VALUE(Id_TargetBox), RtPropertyComboText, -1,
                  uint64_t(uintptr_t("target.example")));
    for (auto _ : state) {
        state.PauseTiming();
        ComboClear(box); // each round saves the same number of entries
        for (int i = 0; i < state.range(0) - 1; ++i)
            ComboAppend(box, ("host" + std::to_string(i) + ".example").c_str());
        state.ResumeTiming();
        RecordHistory();
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(SaveHistory)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
