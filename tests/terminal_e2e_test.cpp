// build/routetrace in a terminal (tmux), inside the namespace network's client: typed at, read back
// with capture-pane. Captures go to build/test-artifacts.
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "netns/namespace.h"
#include "shell.h"
#include "program_folder.h"
#include "temp_dir.h"

using namespace rt::testing;
using namespace std::chrono_literals;

namespace {


class Terminal : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "the namespace network needs root";
        if (Shell("command -v tmux").empty()) GTEST_SKIP() << "tmux is needed (scripts/setup installs it)";
        prefix_ = "rtm" + std::to_string(::getpid());
        session_ = prefix_;
        ASSERT_EQ(Topology("up " + prefix_), "");
        InstallProgram(folder_, PRODUCT, "\xB2\xE2\xCA\xD4\xCD\xF8", "tty"); // 测试网
        std::filesystem::create_directories(ARTIFACTS);
    }
    void TearDown() override {
        if (!session_.empty()) Shell("tmux kill-session -t " + session_);
        if (!prefix_.empty()) Topology("down " + prefix_);
    }

    void Start(int columns, int rows) {
        std::string tmp = folder_.file("tmp");
        std::filesystem::create_directories(tmp);
        std::string program = "cd " + folder_.path().string() + " && env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR=" + tmp +
                              " TERM=xterm-256color ./routetrace; echo EXIT=$?; sleep 60";
        Shell("tmux new-session -d -s " + session_ + " -x " + std::to_string(columns) + " -y " + std::to_string(rows) +
              " \"ip netns exec " + prefix_ + "-client sh -c '" + program + "'\"");
        ASSERT_TRUE(WaitFor("开始追踪", 5s)) << Screen();
    }
    std::string Screen() { return Shell("tmux capture-pane -p -t " + session_); }
    void Keys(const std::string &keys) { Shell("tmux send-keys -t " + session_ + " " + keys); }
    bool Until(const std::function<bool()> &condition, std::chrono::milliseconds within) {
        auto end = std::chrono::steady_clock::now() + within;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }
    bool WaitFor(const std::string &text, std::chrono::milliseconds within) {
        return Until([&] { return Screen().find(text) != std::string::npos; }, within);
    }
    bool WaitForFile(const std::string &content) {
        return Until([&] { return folder_.read("lsjl.ini") == content; }, 3s);
    }
    // Moves the focus with Tab (or BTab) until the button is drawn focused (in reverse video).
    bool FocusButton(const std::string &caption, const char *key = "Tab") {
        for (int i = 0; i < 20; ++i) {
            std::string before = Shell("tmux capture-pane -e -p -t " + session_);
            if (before.find("\x1b[7m[" + caption + "]") != std::string::npos) return true;
            Keys(key);
            Until([&] { return Shell("tmux capture-pane -e -p -t " + session_) != before; }, 1s);
        }
        return false;
    }
    // The screen's line that holds the text, and the one below it.
    std::string LineOf(const std::string &text, int below = 0) {
        std::string screen = Screen();
        size_t at = screen.find(text);
        if (at == std::string::npos) return {};
        size_t start = screen.rfind('\n', at);
        start = start == std::string::npos ? 0 : start + 1;
        for (int i = 0; i < below && start < screen.size(); ++i) start = screen.find('\n', start) + 1;
        return screen.substr(start, screen.find('\n', start) - start);
    }
    // Moves the focus until the cursor shows in an edit field on the row of that label (buttons hide it).
    bool FocusField(const std::string &label, const char *key = "BTab") {
        auto where = [&] { return Shell("tmux display -p -t " + session_ + " '#{cursor_flag} #{cursor_y}'"); };
        for (int i = 0; i < 20; ++i) {
            std::string screen = Screen();
            size_t at = screen.find(label);
            int row = int(std::count(screen.begin(), screen.begin() + std::ptrdiff_t(at == std::string::npos ? 0 : at), '\n'));
            std::string before = where();
            if (at != std::string::npos && before == "1 " + std::to_string(row) + "\n") return true;
            Keys(key);
            Until([&] { return where() != before; }, 1s);
        }
        return false;
    }
    void Keep(const std::string &name) { std::ofstream(std::string(ARTIFACTS) + "/" + name) << Screen(); }

    TempDir folder_;
    std::string prefix_, session_;
};

const char kSection[] = "\xC0\xFA\xCA\xB7\xBC\xC7\xC2\xBC";

} // namespace

TEST_F(Terminal, ATraceAtEightyByTwentyFour) {
    Start(80, 24);
    Keep("terminal-80x24-start.txt");
    Keys("'target.test'");
    ASSERT_TRUE(WaitFor("target.test", 2s)) << Screen();
    ASSERT_TRUE(FocusButton("开始追踪")) << Screen();
    Keys("Enter");
    ASSERT_TRUE(WaitFor("路由追踪结束", 10s)) << Screen();
    Keep("terminal-80x24-message.txt");
    Keys("Enter"); // dismisses the message
    std::string screen = Screen();
    Keep("terminal-80x24-trace.txt");
    EXPECT_EQ(screen.find("路由追踪结束"), std::string::npos);
    for (const char *hop : {"192.0.2.2", "198.51.100.2", "198.51.100.6", "203.0.113.2"})
        EXPECT_NE(screen.find(hop), std::string::npos) << hop << "\n" << screen;
    EXPECT_NE(screen.find("测试网 tty"), std::string::npos) << "places from the database beside the program";
    EXPECT_NE(screen.find("┌─ 目标 ─"), std::string::npos) << "frames in box-drawing characters";
    EXPECT_EQ(folder_.read("lsjl.ini"), std::string("[") + kSection + "]\r\nurl=target.test|\r\n");

    ASSERT_TRUE(FocusButton("清除历史记录", "BTab")) << Screen();
    Keys("Enter");
    EXPECT_TRUE(WaitForFile(std::string("[") + kSection + "]\r\nurl=toviq.example|\r\n")) << folder_.read("lsjl.ini");

    // The target box's history: Down opens it, Enter takes the item into the edit field.
    ASSERT_TRUE(FocusField("目标网址")) << Screen();
    Keys("Down");
    EXPECT_TRUE(Until([&] { return LineOf("目标网址", 1).find("toviq.example") != std::string::npos; }, 2s)) << Screen();
    Keys("Enter");
    EXPECT_TRUE(Until([&] { return LineOf("目标网址").find("toviq.example") != std::string::npos; }, 2s)) << Screen();

    Keys("F10");
    EXPECT_TRUE(WaitFor("关于Toviq", 2s));
    Keys("Up Enter"); // "退出"
    EXPECT_TRUE(WaitFor("EXIT=0", 3s)) << Screen();
}

TEST_F(Terminal, ResizingDuringATraceAndALargeTerminal) {
    Topology("silence " + prefix_ + " target"); // the trace keeps going
    Start(200, 60);
    Keys("'203.0.113.2'");
    ASSERT_TRUE(WaitFor("203.0.113.2", 2s)) << Screen();
    ASSERT_TRUE(FocusButton("开始追踪")) << Screen();
    Keys("Enter");
    ASSERT_TRUE(WaitFor("198.51.100.6", 5s)) << Screen();
    Keep("terminal-200x60-trace.txt");
    Shell("tmux resize-window -t " + session_ + " -x 70 -y 20");
    EXPECT_TRUE(WaitFor("terminal too small", 3s)) << Screen();
    Shell("tmux resize-window -t " + session_ + " -x 90 -y 30");
    EXPECT_TRUE(WaitFor("开始追踪", 3s)) << Screen();
    Keep("terminal-90x30-resized.txt");
    Keys("C-c"); // ends at once, whatever the trace is doing
    EXPECT_TRUE(WaitFor("EXIT=0", 3s)) << Screen();
}
