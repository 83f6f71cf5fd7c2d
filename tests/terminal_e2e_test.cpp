// build/routetrace in a terminal (tmux), inside the namespace network's client: typed at, read back
// with capture-pane. Captures go to build/test-artifacts.
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "netns/namespace.h"
#include "shell.h"
#include "history_file.h"
#include "program_folder.h"
#include "temp_dir.h"
#include "terminal_network.h"
#include "tmux_session.h"

using namespace rt::testing;
using namespace std::chrono_literals;

namespace {

class Terminal : public TerminalOnNetwork {
  protected:
    Terminal() : TerminalOnNetwork("rtm") {}

    void Start(int columns, int rows) {
        std::string tmp = folder_.file("tmp");
        std::filesystem::create_directories(tmp);
        std::string program = "cd " + folder_.path().string() + " && env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR=" + tmp +
                              " TERM=xterm-256color ./routetrace; echo EXIT=$?; sleep 60";
        RunInClient(program, columns, rows);
        ASSERT_TRUE(WaitFor("开始追踪", 10s)) << Screen();
    }
    void Keys(const std::string &keys) { tmux_->Keys(keys); }
    bool WaitFor(const std::string &text, std::chrono::milliseconds within) { return tmux_->WaitFor(text, within); }
    bool WaitForFile(const std::string &content) {
        return Until([&] { return folder_.read("lsjl.ini") == content; }, 10s);
    }
};

} // namespace

TEST_F(Terminal, ATraceAtEightyByTwentyFour) {
    Start(80, 24);
    Keep("terminal-80x24-start.txt");
    Keys("'target.test'");
    ASSERT_TRUE(WaitFor("target.test", 10s)) << Screen();
    ASSERT_TRUE(tmux_->FocusButton("开始追踪")) << Screen();
    Keys("Enter");
    ASSERT_TRUE(WaitFor("路由追踪结束", 20s)) << Screen();
    Keep("terminal-80x24-message.txt");
    Keys("Enter"); // dismisses the message
    EXPECT_TRUE(Until([&] { return Screen().find("路由追踪结束") == std::string::npos; }, 10s)) << Screen();
    std::string screen = Screen();
    Keep("terminal-80x24-trace.txt");
    for (const char *hop : {"192.0.2.2", "198.51.100.2", "198.51.100.6", "203.0.113.2"})
        EXPECT_NE(screen.find(hop), std::string::npos) << hop << "\n" << screen;
    EXPECT_NE(screen.find("测试网 tty"), std::string::npos) << "places from the database beside the program";
    EXPECT_NE(screen.find("┌─ 目标 ─"), std::string::npos) << "frames in box-drawing characters";
    EXPECT_EQ(folder_.read("lsjl.ini"), HistoryFile("target.test|"));

    ASSERT_TRUE(tmux_->FocusButton("清除历史记录", "BTab")) << Screen();
    Keys("Enter");
    EXPECT_TRUE(WaitForFile(HistoryFile(K_InitialHistory))) << folder_.read("lsjl.ini");

    // The target box's history: Down opens it, Enter takes the item into the edit field.
    ASSERT_TRUE(tmux_->FocusField("目标网址")) << Screen();
    Keys("Down");
    EXPECT_TRUE(Until([&] { return tmux_->LineOf("目标网址", 1).find("toviq.example") != std::string::npos; }, 10s))
        << Screen();
    Keys("Enter");
    EXPECT_TRUE(Until([&] { return tmux_->LineOf("目标网址").find("toviq.example") != std::string::npos; }, 10s))
        << Screen();

    Keys("F10");
    EXPECT_TRUE(WaitFor("关于Toviq", 10s));
    Keys("Up Enter"); // "退出"
    EXPECT_TRUE(WaitFor("EXIT=0", 10s)) << Screen();
}

TEST_F(Terminal, ResizingDuringATraceAndALargeTerminal) {
    Topology("silence " + prefix_ + " target"); // the trace keeps going
    Start(200, 60);
    Keys("'203.0.113.2'");
    ASSERT_TRUE(WaitFor("203.0.113.2", 10s)) << Screen();
    ASSERT_TRUE(tmux_->FocusButton("开始追踪")) << Screen();
    Keys("Enter");
    ASSERT_TRUE(WaitFor("198.51.100.6", 10s)) << Screen();
    Keep("terminal-200x60-trace.txt");
    tmux_->Resize(70, 20);
    EXPECT_TRUE(WaitFor("terminal too small", 10s)) << Screen();
    tmux_->Resize(90, 30);
    EXPECT_TRUE(WaitFor("开始追踪", 10s)) << Screen();
    Keep("terminal-90x30-resized.txt");
    Keys("C-c"); // ends at once, whatever the trace is doing
    EXPECT_TRUE(WaitFor("EXIT=0", 10s)) << Screen();
}
