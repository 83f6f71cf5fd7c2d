// routetrace --watch in a terminal (tmux) inside the namespace network's client: the table with
// the four hops, growing with the rounds; p pauses it, r resets it, q and Ctrl-C leave the final
// table on standard output; -c ends it by itself. Captures go to build/test-artifacts.
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "netns/namespace.h"
#include "program_folder.h"
#include "shell.h"
#include "temp_dir.h"
#include "terminal_network.h"
#include "tmux_session.h"

using namespace rt::testing;
using namespace std::chrono_literals;

namespace {

const char *const kHops[] = {"192.0.2.2", "198.51.100.2", "198.51.100.6", "203.0.113.2"};

// The Snt figure of a hop's line on the screen, or -1 where the hop has no line.
int Sent(const std::string &screen, int hop) {
    std::istringstream lines(screen);
    std::regex row(" *" + std::to_string(hop) + " +[0-9.]+ .* [0-9.]+% +([0-9]+)( .*)?");
    std::smatch m;
    for (std::string line; std::getline(lines, line);)
        if (std::regex_match(line, m, row)) return std::stoi(m[1]);
    return -1;
}

class Watch : public TerminalOnNetwork {
  protected:
    Watch() : TerminalOnNetwork("rtw") {}

    // Runs routetrace --watch with the options in a terminal of that size, tracing the target.
    void Start(const std::string &options, int columns, int rows) {
        std::string program = "cd " + folder_.path().string() + " && env -u DISPLAY -u WAYLAND_DISPLAY " +
                              "TERM=xterm-256color ./routetrace --watch " + options +
                              " 203.0.113.2; echo EXIT=$?; sleep 60";
        RunInClient(program, columns, rows);
    }
    // Waits until the target's line counts at least that many probes.
    bool SentAtLeast(int n) {
        return Until([&] { return Sent(Screen(), 4) >= n; }, 30s);
    }
    // After the view: the final table on standard output, every hop in it, and the exit code.
    void ExpectFinalTable(const std::string &name) {
        ASSERT_TRUE(tmux_->WaitFor("EXIT=", 30s)) << Screen();
        Keep(name);
        std::string screen = Screen();
        EXPECT_NE(screen.find("EXIT=0"), std::string::npos) << screen;
        EXPECT_EQ(screen.find("Keys: q quit"), std::string::npos) << "the view is gone: " << screen;
        EXPECT_NE(screen.find("Loss%"), std::string::npos) << screen;
        for (int hop = 1; hop <= 4; ++hop) EXPECT_GE(Sent(screen, hop), 1) << hop << "\n" << screen;
    }
};

} // namespace

TEST_F(Watch, GrowsPausesResetsAndQuitsAtEightyByTwentyFour) {
    Start("-i 0.5", 80, 24);
    ASSERT_TRUE(SentAtLeast(3)) << Screen();
    std::string screen = Screen();
    Keep("watch-80x24.txt");
    for (const char *hop : kHops) EXPECT_NE(screen.find(hop), std::string::npos) << hop << "\n" << screen;
    EXPECT_NE(tmux_->LineOf("192.0.2.2").find("测试网 tty"), std::string::npos) << screen;
    for (const char *title : {"Loss%", "Snt", "Last", "Avg", "Best", "Wrst", "StDev", "Jttr"})
        EXPECT_NE(tmux_->LineOf("Loss%").find(title), std::string::npos) << title << "\n" << screen;

    tmux_->Keys("p"); // "paused" shows once the round under way has ended: nothing grows after it
    ASSERT_TRUE(tmux_->WaitFor("paused", 30s)) << Screen();
    int paused = Sent(Screen(), 4);
    std::this_thread::sleep_for(1500ms); // three intervals
    EXPECT_EQ(Sent(Screen(), 4), paused) << Screen();

    tmux_->Keys("r"); // while paused, the figures are gone at once and stay gone
    EXPECT_TRUE(Until([&] { return Sent(Screen(), 4) == -1 && Screen().find("rounds: 0") != std::string::npos; }, 30s))
        << Screen();
    tmux_->Keys("p"); // the rounds go on, counted from the reset
    EXPECT_TRUE(Until(
        [&] {
            int sent = Sent(Screen(), 4);
            return sent >= 1 && sent < paused;
        },
        30s))
        << Screen();

    tmux_->Keys("q");
    ExpectFinalTable("watch-80x24-final.txt");
}

TEST_F(Watch, CtrlCLeavesTheFinalTableAtOneTwentyByForty) {
    Start("-i 0.1 --asn", 120, 40);
    ASSERT_TRUE(SentAtLeast(2)) << Screen();
    Keep("watch-120x40.txt");
    // Wide enough for every column; the documentation addresses belong to no network.
    EXPECT_NE(tmux_->LineOf("Loss%").find("AS"), std::string::npos) << Screen();
    EXPECT_NE(tmux_->LineOf("Loss%").find("Jttr"), std::string::npos) << Screen();
    EXPECT_NE(tmux_->LineOf("  4 203.0.113.2").find(" - "), std::string::npos) << Screen();
    tmux_->Keys("C-c");
    ExpectFinalTable("watch-120x40-final.txt");
}

TEST_F(Watch, SigtermGivesTheTerminalBackBeforeTheInterruptedFigures) {
    // The shell says whether the terminal reads lines again after the view.
    RunInClient("cd " + folder_.path().string() + " && env -u DISPLAY -u WAYLAND_DISPLAY TERM=xterm-256color " +
                    "./routetrace --watch -i 0.3 --json 203.0.113.2; echo EXIT=$?; " +
                    "stty -a | grep -q \"[^-]icanon\" && echo LINES=on || echo LINES=off; sleep 60",
                120, 40);
    ASSERT_TRUE(SentAtLeast(2)) << Screen();
    Shell("for p in $(ip netns pids " + prefix_ + "-client); do " +
          "[ \"$(cat /proc/$p/comm)\" = routetrace ] && kill -TERM $p; done");
    ASSERT_TRUE(tmux_->WaitFor("EXIT=", 30s)) << Screen();
    ASSERT_TRUE(tmux_->WaitFor("LINES=", 30s)) << Screen();
    Keep("watch-sigterm-final.txt");
    std::string screen = Screen();
    EXPECT_NE(screen.find("EXIT=143"), std::string::npos) << screen;
    EXPECT_NE(screen.find("LINES=on"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Keys: q quit"), std::string::npos) << "the view is gone: " << screen;
    std::string joined = std::regex_replace(screen, std::regex("\n"), ""); // the document wraps
    EXPECT_NE(joined.find("\"interrupted\":true"), std::string::npos) << screen;
}

TEST_F(Watch, AResetKeepsThePaceOfTheRounds) {
    // A round a minute: after r the figures are gone, and no round comes before its time.
    Start("-i 60", 120, 40);
    ASSERT_TRUE(SentAtLeast(1)) << Screen();
    tmux_->Keys("r");
    std::this_thread::sleep_for(2s);
    std::string screen = Screen();
    EXPECT_NE(screen.find("rounds: 0"), std::string::npos) << "a round started at once: " << screen;
    EXPECT_EQ(Sent(screen, 4), -1) << screen;
    tmux_->Keys("q");
    EXPECT_TRUE(tmux_->WaitFor("EXIT=", 30s)) << Screen();
}

TEST_F(Watch, FiguresResetWhilePausedStayForgottenInTheFinalTable) {
    Start("-i 0.5", 120, 40);
    ASSERT_TRUE(SentAtLeast(1)) << Screen();
    tmux_->Keys("p");
    ASSERT_TRUE(tmux_->WaitFor("paused", 30s)) << Screen();
    tmux_->Keys("r");
    ASSERT_TRUE(tmux_->WaitFor("rounds: 0", 30s)) << Screen();
    tmux_->Keys("q");
    ASSERT_TRUE(tmux_->WaitFor("EXIT=", 30s)) << Screen();
    Keep("watch-reset-paused-final.txt");
    EXPECT_NE(Screen().find("Loss%"), std::string::npos) << Screen();
    EXPECT_EQ(Sent(Screen(), 1), -1) << "the figures forgotten are back: " << Screen();
}

TEST_F(Watch, CyclesEndItByItself) {
    Start("-c 3 -i 0.1", 120, 40);
    ExpectFinalTable("watch-cycles-final.txt");
    EXPECT_EQ(Sent(Screen(), 4), 3) << Screen();
}

TEST(WatchWithoutTerminal, SaysToRunAReport) {
    TempDir folder;
    InstallProgram(folder, PRODUCT, "TEST-NET", "none");
    std::string out = Shell("cd " + folder.path().string() +
                            " && env -u DISPLAY -u WAYLAND_DISPLAY ./routetrace --watch 203.0.113.2 </dev/null "
                            ">out.txt 2>&1; echo EXIT=$?");
    std::string said = folder.read("out.txt");
    EXPECT_EQ(out, "EXIT=2\n") << said;
    EXPECT_NE(said.find("--watch needs a terminal on standard output"), std::string::npos) << said;
    EXPECT_NE(said.find("routetrace --report -c N TARGET"), std::string::npos) << said;
}
