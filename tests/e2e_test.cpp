// build/routetrace as a user runs it: in a real window under Xvfb, inside the namespace network's
// client, driven with xdotool. Screenshots go to build/test-artifacts.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "netns/namespace.h"
#include "shell.h"
#include "history_file.h"
#include "program_folder.h"
#include "temp_dir.h"

using namespace rt::testing;
extern char **environ;

namespace {

using namespace std::chrono_literals;

pid_t Spawn(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    return pid;
}

// The exit code of a child, or -1 if it does not end in time.
int WaitExit(pid_t pid, std::chrono::milliseconds within) {
    auto end = std::chrono::steady_clock::now() + within;
    int status;
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        std::this_thread::sleep_for(20ms);
    }
    return -1;
}

// The height of the main window's menu bar, measured the way the program lays it out.
int MenuBarHeight() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "measure";
    static char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QFont font = QApplication::font();
    font.setPixelSize(12);
    QApplication::setFont(font);
    QMainWindow w;
    w.menuBar()->addMenu(QString::fromUtf8("关于"));
    int height = w.menuBar()->sizeHint().height();
    ::unsetenv("QT_QPA_PLATFORM"); // the program itself must find the X display
    return height;
}

class Desktop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "the namespace network needs root";
        if (Shell("command -v Xvfb").empty() || Shell("command -v xdotool").empty())
            GTEST_SKIP() << "Xvfb and xdotool are needed (scripts/setup installs them)";
        menuBar_ = MenuBarHeight();
        display_ = ":" + std::to_string(50 + ::getpid() % 200);
        xvfb_ = Spawn({"Xvfb", display_, "-screen", "0", screen_, "-nolisten", "tcp"});
        for (int i = 0; i < 100 && !std::filesystem::exists("/tmp/.X11-unix/X" + display_.substr(1)); ++i)
            std::this_thread::sleep_for(50ms);
        ::setenv("DISPLAY", display_.c_str(), 1);
        prefix_ = "rte" + std::to_string(::getpid());
        ASSERT_EQ(Topology("up " + prefix_), "");
        // The program in a folder of its own, with the database the test wrote beside it.
        InstallProgram(folder_, PRODUCT, "\xB2\xE2\xCA\xD4\xCD\xF8", "e2e"); // 测试网
        std::filesystem::create_directories(ARTIFACTS);
    }
    void TearDown() override {
        if (program_ > 0) {
            ::kill(program_, SIGKILL);
            ::waitpid(program_, nullptr, 0);
        }
        if (!prefix_.empty()) Topology("down " + prefix_);
        if (xvfb_ > 0) {
            ::kill(xvfb_, SIGTERM);
            ::waitpid(xvfb_, nullptr, 0);
        }
    }

    void Start() {
        std::string tmp = folder_.file("tmp");
        std::filesystem::create_directories(tmp);
        std::string command = "cd " + folder_.path().string() + " && exec env -u QT_QPA_PLATFORM TMPDIR=" + tmp +
                              " XDG_RUNTIME_DIR=" + tmp + " ./routetrace";
        program_ = Spawn({"ip", "netns", "exec", prefix_ + "-client", "sh", "-c", command});
        window_ = Shell("timeout 10 xdotool search --sync --onlyvisible --name Toviq | head -n 1");
        ASSERT_FALSE(window_.empty()) << "the window did not appear";
        window_.pop_back();
        std::this_thread::sleep_for(300ms);
    }
    // Clicks a point of the client area (below the menu bar) of the window at left_, top_. Nothing
    // outside the program shows that it has taken a click or a key, so each gets a moment to be handled.
    void Click(int x, int y) {
        Shell("xdotool mousemove " + std::to_string(left_ + x) + " " + std::to_string(top_ + menuBar_ + y) +
              " click 1");
        std::this_thread::sleep_for(150ms);
    }
    void Key(const std::string &keys) {
        Shell("xdotool key " + keys);
        std::this_thread::sleep_for(150ms);
    }
    void Type(const std::string &text) { Shell("xdotool type --delay 20 '" + text + "'"); }
    // How many windows named like the program are shown (the main one, and a message box).
    int Windows() {
        std::string out = Shell("xdotool search --onlyvisible --name Toviq");
        return int(std::count(out.begin(), out.end(), '\n'));
    }
    bool WaitFor(const std::function<bool()> &condition, std::chrono::milliseconds within) {
        auto end = std::chrono::steady_clock::now() + within;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }
    void Screenshot(const std::string &name) { Shell(std::string(SCREENSHOT) + " " + ARTIFACTS + "/" + name); }
    std::string History() { return folder_.read("lsjl.ini"); }

    // Designed positions: group box 1 at (7, 10) holds the combo box (80, 20) and the clear button
    // (400, 20); the start button is at (485, 280).
    void ClickTargetBox() { Click(7 + 80 + 100, 10 + 20 + 12); }
    void ClickStart() { Click(485 + 50, 280 + 16); }
    void ClickClear() { Click(7 + 400 + 50, 10 + 20 + 16); }
    void ChooseExit() {
        Shell("xdotool mousemove " + std::to_string(left_ + 22) + " " + std::to_string(top_ + menuBar_ / 2) +
              " click 1");
        std::this_thread::sleep_for(300ms);
        Key("Up Return"); // the last item of the menu: "退出"
    }

    TempDir folder_;
    std::string display_, prefix_, window_;
    pid_t xvfb_ = -1, program_ = -1;
    int menuBar_ = 0;
    std::string screen_ = "1024x900x24";
    int left_ = 50, top_ = 50; // where the window lies: the form's place where it fits
};

// A 1366 x 768 screen, as many laptops have, where the form's 800 pixels do not fit.
class SmallScreen : public Desktop {
  protected:
    SmallScreen() { screen_ = "1366x768x24"; }
};

} // namespace

TEST_F(Desktop, ATraceAsAUserRunsIt) {
    Topology("drop-time-exceeded " + prefix_ + " r2"); // hop 2 stays silent for 2.4 s
    Start();
    Screenshot("window-start.png");
    EXPECT_FALSE(folder_.exists("lsjl.ini")) << "a first start writes no history";

    ClickTargetBox();
    Type("target.test");
    ClickStart();
    const std::string recorded = HistoryFile("target.test|");
    ASSERT_TRUE(WaitFor([&] { return History() == recorded; }, 15s)) << History();
    ClickStart(); // the button is disabled while the trace runs: this click records nothing
    EXPECT_EQ(History(), recorded);

    ASSERT_TRUE(WaitFor([&] { return Windows() == 2; }, 30s)) << "no end message";
    Screenshot("trace-end-message.png");
    Key("Return");
    ASSERT_TRUE(WaitFor([&] { return Windows() == 1; }, 15s));
    Screenshot("trace-finished.png");

    ClickClear();
    const std::string reset = HistoryFile(K_InitialHistory);
    EXPECT_TRUE(WaitFor([&] { return History() == reset; }, 15s)) << History();
    ChooseExit();
    EXPECT_EQ(WaitExit(program_, 15s), 0);
    program_ = -1;
}

TEST_F(Desktop, ExitDuringATraceEndsAtOnceWithZero) {
    Topology("silence " + prefix_ + " target"); // every hop past the routers waits 2.4 s
    Start();
    ClickTargetBox();
    Type("203.0.113.2");
    ClickStart();
    // The target is recorded as the trace starts; its hops past the routers then wait on silence.
    ASSERT_TRUE(WaitFor([&] { return History().find("203.0.113.2") != std::string::npos; }, 15s));
    ChooseExit();
    // The trace has 250 silent hops of 2.4 s ahead of it: a program that waited for it would take ten minutes.
    EXPECT_EQ(WaitExit(program_, 30s), 0) << "the program must not wait for the trace";
    program_ = -1;
}

TEST_F(SmallScreen, TheWindowLiesInsideTheScreenAndATraceStillFillsItsList) {
    Start();
    std::map<std::string, int> g;
    std::istringstream shell(Shell("xdotool getwindowgeometry --shell " + window_));
    for (std::string line; std::getline(shell, line);)
        if (auto eq = line.find('='); eq != std::string::npos) g[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
    EXPECT_GE(g["X"], 0);
    EXPECT_GE(g["Y"], 0);
    EXPECT_LE(g["X"] + g["WIDTH"], 1366);
    EXPECT_LE(g["Y"] + g["HEIGHT"], 768) << "the window's lower edge is on the screen";
    EXPECT_EQ(g["WIDTH"], 600) << "the form's width";
    left_ = g["X"];
    top_ = g["Y"];
    Screenshot("window-1366x768.png");
    ClickTargetBox();
    Type("target.test");
    ClickStart();
    ASSERT_TRUE(WaitFor([&] { return Windows() == 2; }, 30s)) << "no end message: the trace did not reach the target";
    Key("Return");
    ASSERT_TRUE(WaitFor([&] { return Windows() == 1; }, 15s));
    Screenshot("trace-finished-1366x768.png");
    EXPECT_EQ(History(), HistoryFile("target.test|"));
    ChooseExit();
    EXPECT_EQ(WaitExit(program_, 15s), 0);
    program_ = -1;
}
