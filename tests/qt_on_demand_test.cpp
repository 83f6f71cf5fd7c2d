// Qt's libraries are mapped only where a window is drawn: a report, a terminal window and the
// benchmarks' in-process trace start without them (read from the running child's memory map).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "temp_dir.h"

using rt::testing::TempDir;

namespace {

std::string ReadAll(const std::filesystem::path &path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Waits for the condition; false when it does not hold within the bound, which is generous because
// a loaded machine may be slow and a met condition ends the wait at once.
template <typename F> bool WaitFor(F condition) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Whether one of the process's threads waits in a write (its output has nowhere to go).
bool BlockedInWrite(pid_t pid) {
    std::error_code ec;
    for (const auto &task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::string call = ReadAll(task.path() / "syscall");
        if (call.rfind("1 ", 0) == 0 || call.rfind("20 ", 0) == 0) return true; // write, writev
    }
    return false;
}

// The Qt libraries among the mapped files of a map, each once.
std::set<std::string> QtLibraries(const std::string &maps) {
    std::set<std::string> found;
    for (size_t at = maps.find("libQt"); at != std::string::npos; at = maps.find("libQt", at + 1))
        found.insert(maps.substr(at, maps.find_first_of(" \n", at) - at));
    return found;
}

struct Start {
    const char *name;
    std::vector<std::string> arguments;
    bool terminal; // on a pseudo-terminal (the terminal window); otherwise output to a full pipe
};

} // namespace

// Each child runs until its start is over: the terminal window has drawn and waits for keys; the
// report's first output waits on a pipe that is already full. Its map is read then.
TEST(QtOnDemand, AReportAndATerminalWindowStartWithoutQt) {
    const Start starts[] = {
        {"report", {"--report", "-m", "1", "127.0.0.1"}, false},
        {"version", {"--version"}, false},
        {"terminal window", {}, true},
    };
    for (const Start &start : starts) {
        SCOPED_TRACE(start.name);
        TempDir tmp;
        int master = -1, output[2] = {-1, -1};
        if (start.terminal) {
            int slave = -1;
            ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
            output[1] = slave;
        } else {
            ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
            ::fcntl(output[1], F_SETFL, O_NONBLOCK);
            std::vector<char> filler(4096, 'x');
            while (::write(output[1], filler.data(), filler.size()) > 0) {}
            ::fcntl(output[1], F_SETFL, 0);
        }
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (start.terminal) ::setsid();
            ::dup2(start.terminal ? output[1] : ::open("/dev/null", O_RDONLY), 0);
            ::dup2(output[1], 1);
            ::dup2(output[1], 2);
            if (start.terminal) ::ioctl(0, TIOCSCTTY, 0);
            ::setenv("TMPDIR", tmp.path().c_str(), 1);
            ::setenv("TERM", "xterm-256color", 1);
            for (const char *name : {"XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                ::unsetenv(name);
            std::vector<char *> argv{const_cast<char *>(PRODUCT)};
            for (const std::string &a : start.arguments) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(PRODUCT, argv.data());
            ::_exit(127);
        }
        ::close(output[1]);
        std::string maps = "/proc/" + std::to_string(pid) + "/maps";
        bool started = WaitFor([&] {
            if (start.terminal) {
                pollfd drawn{master, POLLIN, 0};
                return ::poll(&drawn, 1, 0) == 1 && ReadAll(maps).find("rtcore") != std::string::npos;
            }
            return BlockedInWrite(pid);
        });
        std::string mapped = ReadAll(maps);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(start.terminal ? master : output[0]);
        ASSERT_TRUE(started) << "the program did not get through its start";
        EXPECT_NE(mapped.find("rtcore"), std::string::npos) << "the runtime library is loaded:\n" << mapped;
        EXPECT_EQ(QtLibraries(mapped), std::set<std::string>{});
    }
}

#ifdef TRACE_ONCE
// The benchmark traces in its own process: nothing it is linked with brings Qt along.
TEST(QtOnDemand, TheBenchmarksTraceLinksNoQt) {
    std::string listing;
    FILE *pipe = ::popen("LD_TRACE_LOADED_OBJECTS=1 " TRACE_ONCE, "r");
    ASSERT_NE(pipe, nullptr);
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe)) listing += buf;
    ::pclose(pipe);
    EXPECT_NE(listing.find("libc.so"), std::string::npos) << listing;
    EXPECT_EQ(QtLibraries(listing), std::set<std::string>{});
}
#endif
