// The live view in a real terminal (tmux), fed by tests/tools/watch_driver: a hop's second
// responder on a line of its own, East Asian places, a terminal narrowed under it, and messages
// held until the terminal is given back. Captures go to build/test-artifacts.
#include <filesystem>
#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "shell.h"
#include "tmux_session.h"

using namespace rt::testing;
using namespace std::chrono_literals;

namespace {

// The rounds the title line counts, or -1.
int Rounds(const std::string &screen) {
    std::smatch m;
    return std::regex_search(screen, m, std::regex("rounds: ([0-9]+)")) ? std::stoi(m[1]) : -1;
}

} // namespace

TEST(WatchView, RespondersWideTextResizeAndHeldMessages) {
    if (Shell("command -v tmux").empty()) GTEST_SKIP() << "tmux is needed (scripts/setup installs it)";
    TmuxSession tmux("rtw" + std::to_string(::getpid()));
    tmux.Start(std::string("TERM=xterm-256color ") + WATCH_DRIVER + " 0 50; echo EXIT=$?; sleep 60", 80, 24);
    ASSERT_TRUE(Until([&] { return Rounds(tmux.Screen()) >= 3; }, 20s)) << tmux.Screen();
    std::filesystem::create_directories(ARTIFACTS);
    std::ofstream(std::string(ARTIFACTS) + "/watch-80x24.txt") << tmux.Screen();
    EXPECT_NE(tmux.LineOf("198.51.100.2").find("测试网 甲"), std::string::npos) << tmux.Screen();
    EXPECT_EQ(tmux.LineOf("198.51.100.9").rfind("    198.51.100.9 测试网 乙", 0), 0u) << tmux.Screen();
    EXPECT_NE(tmux.LineOf("192.0.2.2").find("江苏南京 电信"), std::string::npos) << tmux.Screen();
    EXPECT_EQ(tmux.Screen().find("a message while"), std::string::npos) << "held while the view is up";

    tmux.Resize(40, 24); // the optional figures give way, the place stays
    EXPECT_TRUE(Until(
        [&] {
            return tmux.LineOf("Loss%").find("Last") == std::string::npos &&
                   tmux.LineOf("192.0.2.2").find("江苏南京") != std::string::npos;
        },
        10s))
        << tmux.Screen();

    tmux.Keys("q");
    ASSERT_TRUE(tmux.WaitFor("EXIT=0", 10s)) << tmux.Screen();
    std::string after = tmux.Screen();
    EXPECT_NE(after.find("watch_driver: a message while"), std::string::npos) << after;
    EXPECT_NE(after.find("final: "), std::string::npos) << after;
}
