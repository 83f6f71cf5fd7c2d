// Start-up: the launcher's extraction and loading alone (in process), and a whole start of the
// program from exec to its exit (the start routine ends it at once without a window), beside an
// exec of a program that does nothing. Target: extraction and loading add under 20 ms to a start.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <benchmark/benchmark.h>

#include "launcher/launcher.h"

extern char **environ;

namespace {

std::string g_tmp;

void RunToExit(benchmark::State &state, const char *program) {
    for (auto _ : state) {
        pid_t pid;
        char *argv[] = {const_cast<char *>(program), nullptr};
        if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start the program");
            return;
        }
        int status;
        ::waitpid(pid, &status, 0);
    }
}

void ExtractAndLoad(benchmark::State &state) {
    for (auto _ : state) {
        auto r = launcher::PrepareRuntime(PRODUCT);
        if (!r) state.SkipWithError(launcher::Describe(r.error()).c_str());
    }
}
// Each round loads a fresh copy of the library (the file is replaced), so the rounds are few.
BENCHMARK(ExtractAndLoad)->Unit(benchmark::kMillisecond)->Iterations(20);

void ProgramStart(benchmark::State &state) { RunToExit(state, PRODUCT); }
BENCHMARK(ProgramStart)->Unit(benchmark::kMillisecond)->Iterations(30);

void EmptyProgramStart(benchmark::State &state) { RunToExit(state, "/bin/true"); }
BENCHMARK(EmptyProgramStart)->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace

int main(int argc, char **argv) {
    char pattern[] = "/tmp/rtbench.XXXXXX";
    g_tmp = ::mkdtemp(pattern);
    ::setenv("TMPDIR", g_tmp.c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::remove_all(g_tmp);
    return 0;
}
