// The executable as a user starts it: the launcher, its payload and the runtime it loads.
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include <gtest/gtest.h>

#include "temp_dir.h"

using rt::testing::TempDir;

namespace {

struct Outcome {
    int exitCode;
    std::string output;
};

Outcome Execute(const std::string &command) {
    std::string out;
    FILE *pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::array<char, 512> buf;
    while (pipe && std::fgets(buf.data(), buf.size(), pipe)) out += buf.data();
    int status = pipe ? ::pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

} // namespace

TEST(Startup, TheLauncherHandsTheImageToTheCoreLibraryItUnpacked) {
    TempDir tmp;
    std::string report = tmp.file("report");
    Outcome o = Execute("env -u XDG_RUNTIME_DIR TMPDIR=" + tmp.path().string() + " FAKE_RTCORE_REPORT=" + report + " " +
                        FAKE_PRODUCT);
    EXPECT_EQ(o.exitCode, 0) << o.output;
    std::ifstream in(report);
    std::string line((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(line.find("dll_count=14 field34=0x1014F"), std::string::npos) << line;
    EXPECT_TRUE(std::filesystem::exists(tmp.path() / ("Q_N46414B45-" + std::to_string(::geteuid())) / "rtcore.slr"));
}

// Without a display and without a terminal (standard output is this test's pipe) there is nowhere
// to show the window: the program unpacks and loads its runtime, then says how to run a report.
constexpr const char kNoWindow[] =
    "routetrace: no display and no terminal to show the window in.\n"
    "To trace without a window, run a report: routetrace --report TARGET (see routetrace --help).\n";

TEST(Startup, TheRealProgramWithNowhereToShowTheWindowSaysHowToReportAndEndsWithTwo) {
    TempDir tmp;
    std::string env =
        "env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR=" + tmp.path().string() + " ";
    Outcome o = Execute(env + PRODUCT);
    EXPECT_EQ(o.exitCode, 2) << o.output;
    EXPECT_EQ(o.output, kNoWindow);
    EXPECT_TRUE(std::filesystem::exists(tmp.path() / ("Q_N52544331-" + std::to_string(::geteuid())) / "rtcore.slr"));
    // A second start reuses the folder and replaces the library.
    o = Execute(env + PRODUCT);
    EXPECT_EQ(o.exitCode, 2) << o.output;
}

TEST(Startup, ErrorsAreReportedAndTheExitCodeIsStillZero) {
    TempDir tmp;
    // The launcher alone carries no payload.
    Outcome o = Execute("DISPLAY= WAYLAND_DISPLAY= TMPDIR=" + tmp.path().string() + " " + LAUNCHER_ONLY);
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.output, "Error: Invalid data in the file!\n");
    // A payload whose compressed table is damaged.
    std::ifstream in(PRODUCT, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    bytes[bytes.size() - 200] ^= 0x55;
    std::string damaged = tmp.file("damaged");
    std::ofstream(damaged, std::ios::binary) << bytes;
    std::filesystem::permissions(damaged, std::filesystem::perms::owner_all);
    o = Execute("DISPLAY= WAYLAND_DISPLAY= TMPDIR=" + tmp.path().string() + " " + damaged);
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.output, "Error: Failed to decompress data!\n");
}

TEST(Startup, AReportWhoseStartFailsEndsWithTwoItsMessageOnStandardError) {
    TempDir tmp;
    struct Case {
        std::string environment, program, message;
    };
    std::vector<Case> cases = {
        {"TMPDIR=" + tmp.path().string(), LAUNCHER_ONLY, "Error: Invalid data in the file!\n"},
        {"TMPDIR=/proc", PRODUCT, "Error: Can't retrieve the temporary directory! (No such file or directory)\n"},
    };
    if (::geteuid() == 0) { // a full temporary folder: a tmpfs of one page, mounted where only this sees it
        std::string full = tmp.file("full");
        std::filesystem::create_directory(full);
        cases.push_back(
            {"TMPDIR=" + full,
             "unshare -m sh -c 'mount -t tmpfs -o size=4k none " + full + " && exec " + PRODUCT + " \"$@\"' -",
             "Error: Can't write the runtime's files! (No space left on device)\n"});
    }
    for (const Case &c : cases) {
        std::string run = "env -u XDG_RUNTIME_DIR DISPLAY= WAYLAND_DISPLAY= " + c.environment + " " + c.program;
        // Standard error alone is kept: standard output goes nowhere.
        Outcome report = Execute("(" + run + " --report 192.0.2.1 >/dev/null)");
        EXPECT_EQ(report.exitCode, 2) << c.message;
        EXPECT_EQ(report.output, c.message);
        Outcome window = Execute(run);
        EXPECT_EQ(window.exitCode, 0) << "the window program: " << c.message;
        EXPECT_EQ(window.output, c.message);
    }
}

// The runtime loads, but the image in the program cannot be run (its header damaged): said once on
// standard error; a report ends with its code for no trace, the window program as it always did.
TEST(Startup, AnImageThatCannotBePreparedIsSaidOnceAndAReportEndsWithTwo) {
    TempDir tmp;
    std::ifstream productIn(PRODUCT, std::ios::binary), imageIn(PROGRAM_IMAGE, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(productIn)), {});
    std::string image((std::istreambuf_iterator<char>(imageIn)), {});
    ASSERT_GT(image.size(), 0x60u);
    size_t at = bytes.find(image.substr(0x20, 0x40)); // the header's first words are zeros
    ASSERT_NE(at, std::string::npos) << "the image lies in the program as built";
    for (size_t i = 0; i < 0x20; ++i) bytes[at + i] = '\xFF';
    std::string damaged = tmp.file("damaged");
    std::ofstream(damaged, std::ios::binary) << bytes;
    std::filesystem::permissions(damaged, std::filesystem::perms::owner_all);
    const std::string run =
        "env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR=" + tmp.path().string() + " " +
        damaged;
    for (const char *arguments : {" --report 192.0.2.1 >/dev/null", " >/dev/null"}) {
        SCOPED_TRACE(arguments);
        Outcome o = Execute("(" + run + arguments + ")");
        EXPECT_EQ(o.exitCode, std::string(arguments).find("--report") != std::string::npos ? 2 : 0);
        EXPECT_EQ(o.output.rfind("The program image is invalid:", 0), 0u) << o.output;
        EXPECT_EQ(o.output.find("The program image is invalid:", 1), std::string::npos) << "said once: " << o.output;
    }
}

TEST(Startup, AnUnreachableDisplayIsReportedNotACrash) {
    TempDir tmp;
    // No X server listens on display 9797 (the tests' own Xvfb servers use displays 50 to 249).
    Outcome o =
        Execute("DISPLAY=:9797 WAYLAND_DISPLAY= QT_QPA_PLATFORM= TMPDIR=" + tmp.path().string() + " " + PRODUCT);
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_EQ(o.output, std::string("The display :9797 cannot be opened; the window cannot be shown.\n") + kNoWindow);
}

TEST(Startup, TheProgramAndItsHelperAreBuiltHardened) {
    // Position-independent, every symbol bound at start, relocated data read-only: both executables.
    for (const std::string &binary : {std::string(PRODUCT), std::string(HELPER)}) {
        SCOPED_TRACE(binary);
        std::string dynamic = Execute("readelf -d " + binary).output;
        EXPECT_NE(Execute("readelf -h " + binary).output.find("DYN (Position-Independent Executable file)"),
                  std::string::npos);
        EXPECT_NE(dynamic.find("BIND_NOW"), std::string::npos);
        EXPECT_NE(Execute("readelf -l " + binary).output.find("GNU_RELRO"), std::string::npos);
    }
    // The helper, which carries a right, needs libc alone and uses checked buffer functions.
    EXPECT_EQ(Execute("readelf -d " + std::string(HELPER) + " | grep NEEDED").output,
              " 0x0000000000000001 (NEEDED)             Shared library: [libc.so.6]\n");
    EXPECT_NE(Execute("nm -D " + std::string(HELPER)).output.find("_chk@"), std::string::npos);
}
