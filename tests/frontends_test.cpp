// What the window provides, the same in every front end: the Qt window (offscreen) and the terminal
// interface (on a pseudo-terminal) on Linux, the Win32 window (under wine) on Windows. Each test
// runs against each front end of its platform.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "host_fixture.h"
#include "main_window_segment.h"
#include "runtime/frontends/console_frontend.h"
#include "temp_dir.h"
#ifdef _WIN32
#include <windows.h>

#include <commctrl.h>

#include "formats/text/wide.h"
#include "runtime/frontends/win32/win32_frontend.h"
#else
#include <pty.h>

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>

#include "runtime/frontends/qt/qt_frontend.h"
#include "runtime/frontends/tui/tui_frontend.h"
#include "contract/form_layout.h"
#endif

using namespace rt::testing;

namespace {

enum class Kind { Qt, Terminal, Win32 };

class FrontEnds : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        form_ = MainWindowSegment();
        auto routineAt = [](uint32_t i) { return i < kRoutines.size() ? kRoutines[i] : nullptr; };
        std::unique_ptr<rt::FormFrontEnd> fe;
#ifdef _WIN32
        auto created = rt::Win32FrontEnd::Create({form_, uint32_t(kHandlers.size()), routineAt});
        ASSERT_TRUE(created) << Describe(created.error());
        fe = std::move(*created);
#else
        if (GetParam() == Kind::Qt) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            auto created = rt::QtFrontEnd::Create({form_, uint32_t(kHandlers.size()), routineAt});
            ASSERT_TRUE(created) << Describe(created.error());
            fe = std::move(*created);
        } else {
            ASSERT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
            winsize size{24, 80, 0, 0};
            ::ioctl(slave_, TIOCSWINSZ, &size);
            ::setenv("TERM", "xterm-256color", 1);
            auto created = rt::TuiFrontEnd::Create({form_, uint32_t(kHandlers.size()), routineAt, slave_, slave_});
            ASSERT_TRUE(created) << Describe(created.error());
            fe = std::move(*created);
            // The terminal's output is read as it comes, so that drawing never blocks.
            drain_ = std::thread([this] {
                char buf[4096];
                for (ssize_t n; (n = ::read(master_, buf, sizeof buf)) > 0;) {
                    std::lock_guard lock(mutex_);
                    screen_.append(buf, size_t(n));
                    drawn_.notify_all();
                }
            });
        }
#endif
        ui_ = fe.get();
        ui_->SetMessagePresenter([this](const std::string &text, const std::string &) {
            std::lock_guard lock(mutex_);
            messages_.push_back(text);
        });
        ui_->SetUrlOpener([this](const std::string &url) { urls_.push_back(url); });
        rt::Runtime::Instance().SetProgramFolder(folder_.path().string());
        rt::Runtime::Instance().SetFrontEnd(std::move(fe));
        ui_->ShowWindow(unit_id::Id_MainWindow);
    }
    void TearDown() override {
        rt::Runtime::Instance().SetFrontEnd(rt::MakeConsoleFrontEnd()); // the terminal is put back
        rt::Runtime::Instance().SetProgramFolder("");
#ifndef _WIN32
        if (slave_ >= 0) ::close(slave_); // the last end of the terminal: the drain's read ends
        if (drain_.joinable()) drain_.join();
        if (master_ >= 0) ::close(master_);
#endif
    }

    // Runs the events that are pending, on the window's thread (Qt's waits a moment for more).
    void Pump() {
#ifndef _WIN32
        if (GetParam() == Kind::Qt) return QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
#endif
        ui_->ProcessEvents();
    }
    // What the result list shows (UTF-8): the Win32 window's own list view, where it has one, once
    // the changes other threads posted are applied; otherwise the model the windows draw from.
    int32_t ListRowCount(uint32_t unit) {
#ifdef _WIN32
        if (HWND w = NativeList(unit)) return int32_t(::SendMessageW(w, LVM_GETITEMCOUNT, 0, 0));
#endif
        return ui_->controls().RowCount(unit);
    }
    std::string ListCellText(uint32_t unit, int32_t row, int32_t column) {
#ifdef _WIN32
        if (HWND w = NativeList(unit)) {
            wchar_t text[512] = {};
            LVITEMW cell{};
            cell.iSubItem = column;
            cell.pszText = text;
            cell.cchTextMax = 512;
            ::SendMessageW(w, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&cell));
            return rt::WideToUtf8(text);
        }
#endif
        return rt::GbkToUtf8(ui_->controls().Cell(unit, row, column));
    }
#ifdef _WIN32
    HWND NativeList(uint32_t unit) {
        ui_->ProcessEvents();
        return static_cast<HWND>(static_cast<rt::Win32FrontEnd *>(ui_)->Native(unit));
    }
#endif

    std::string Text(uint32_t unit, int32_t property) {
        Owned t(reinterpret_cast<void *>(RtGetProperty(unit_id::Id_MainWindow, unit, property, -1)));
        return t.str();
    }
    void SetText(uint32_t unit, int32_t property, const char *gbk) {
        RtSetProperty(unit_id::Id_MainWindow, unit, property, -1, (uint64_t)(uintptr_t)gbk);
    }
    std::vector<std::string> Messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

    static constexpr uint32_t kTarget = unit_id::Id_TargetBox, kAddress = unit_id::Id_AddressBox;
    static constexpr uint32_t kStart = unit_id::Id_StartButton, kList = unit_id::Id_ResultList;
    const UnitRef target_{unit_id::Id_MainWindow, kTarget, unit_type::kComboBox};
    const UnitRef list_{unit_id::Id_MainWindow, kList, unit_type::kListView};
    TempDir folder_;
    std::vector<uint8_t> form_;
    rt::FormFrontEnd *ui_ = nullptr;
    int master_ = -1, slave_ = -1;
    std::thread drain_;
    std::mutex mutex_;
    std::vector<std::string> messages_;
    std::vector<std::string> urls_;
    std::string screen_; // everything the terminal window wrote
    std::condition_variable drawn_;
};

} // namespace

TEST_P(FrontEnds, PropertiesHoldTextsAndTheDisabledFlag) {
    SetText(kAddress, RtPropertyEditText, "203.0.113.2");
    EXPECT_EQ(Text(kAddress, RtPropertyEditText), "203.0.113.2");
    SetText(kTarget, RtPropertyComboText, "\xD6\xD0\xCE\xC4.example"); // 中文.example
    EXPECT_EQ(Text(kTarget, RtPropertyComboText), "\xD6\xD0\xCE\xC4.example") << "GBK in, GBK out";
    EXPECT_EQ(RtGetProperty(unit_id::Id_MainWindow, kStart, RtPropertyDisabled, -1), 0u);
    RtSetProperty(unit_id::Id_MainWindow, kStart, RtPropertyDisabled, -1, 1);
    EXPECT_EQ(RtGetProperty(unit_id::Id_MainWindow, kStart, RtPropertyDisabled, -1), 1u);
}

TEST_P(FrontEnds, TheComboBoxListKeepsItsEditField) {
    SetText(kTarget, RtPropertyComboText, "typed");
    for (const char *item : {"a", "", "b|c"})
        CallUnchecked(cmd::ComboAppend, ArgUnit(target_), ArgText(item), ArgOmitted());
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::ComboCount, ArgUnit(target_))), 3);
    EXPECT_EQ(TakeText(CallUnchecked(cmd::ComboItem, ArgUnit(target_), ArgInt(2))), "b|c");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::ComboItem, ArgUnit(target_), ArgInt(1))), "");
    EXPECT_EQ(Text(kTarget, RtPropertyComboText), "typed");
    CallUnchecked(cmd::ComboClear, ArgUnit(target_));
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::ComboCount, ArgUnit(target_))), 0);
    EXPECT_EQ(Text(kTarget, RtPropertyComboText), "typed");
}

TEST_P(FrontEnds, TheListAppendsFillsAndEmpties) {
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::ListAppendRow, ArgUnit(list_))), 0);
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::ListAppendRow, ArgUnit(list_))), 1);
    CallUnchecked(cmd::ListSetCell, ArgUnit(list_), ArgInt(1), ArgInt(2), ArgText("\xB2\xE2\xCA\xD4")); // 测试
    EXPECT_EQ(ListRowCount(kList), 2);
    EXPECT_EQ(ListCellText(kList, 1, 2), "测试");
    EXPECT_EQ(ListCellText(kList, 0, 2), "");
    CallUnchecked(cmd::ListClear, ArgUnit(list_));
    EXPECT_EQ(ListRowCount(kList), 0);
}

// A place from a hostile database holds an escape sequence (here one that sets the terminal's
// title), a line break and a backspace: the terminal window draws each as '?'.
TEST_P(FrontEnds, ControlCharactersInACellNeverReachTheTerminal) {
    if (GetParam() != Kind::Terminal) GTEST_SKIP() << "a terminal's case";
    CallUnchecked(cmd::ListAppendRow, ArgUnit(list_));
    CallUnchecked(cmd::ListSetCell, ArgUnit(list_), ArgInt(0), ArgInt(2), ArgText("<\x1B]0;owned\x07\n\b>"));
    auto drawn = [this] {
        return screen_.find("<?]0;owned??"
                            "?>") != std::string::npos;
    };
    std::unique_lock lock(mutex_);
    for (int round = 0; round < 600 && !drawn(); ++round) { // until the row is on the screen
        lock.unlock();
        Pump(); // the window draws what changed
        lock.lock();
        drawn_.wait_for(lock, std::chrono::milliseconds(100), drawn);
    }
    ASSERT_TRUE(drawn()) << screen_;
    EXPECT_EQ(screen_.find("\x1B]0;owned"), std::string::npos);
}

TEST_P(FrontEnds, MessagesAndWebAddresses) {
    ShowMessage("\xC3\xBB\xD5\xD2\xB5\xBD\xCA\xFD\xBE\xDD\xBF\xE2", nullptr); // 没找到数据库
    EXPECT_EQ(Messages(), std::vector<std::string>{"没找到数据库"});
    AboutSelected();
    PicturePressed(1, 2, 3);
    EXPECT_EQ(urls_, std::vector<std::string>(2, "https://toviq.example/"));
}

TEST_P(FrontEnds, TheTraceThreadsCallsReachTheWindow) {
    std::atomic<bool> finished{false};
    std::thread trace([&] {
        SetText(kAddress, RtPropertyEditText, "198.51.100.6");
        int32_t row = ResultInt(CallUnchecked(cmd::ListAppendRow, ArgUnit(list_)));
        CallUnchecked(cmd::ListSetCell, ArgUnit(list_), ArgInt(row), ArgInt(1), ArgText("198.51.100.6"));
        ShowMessage("\xC2\xB7\xD3\xC9\xD7\xB7\xD7\xD9\xBD\xE1\xCA\xF8", nullptr);
        ProcessEvents(); // harmless from this thread
        RtSetProperty(unit_id::Id_MainWindow, kStart, RtPropertyDisabled, -1, 0);
        finished = true;
    });
    // The window's thread keeps running events until the other thread is through (an idle pump returns at once).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!finished && std::chrono::steady_clock::now() < deadline) Pump();
    if (!finished) {
        trace.detach(); // still waiting on the window: the process ends with the test
        FAIL() << "the trace thread's calls were not served";
    }
    trace.join();
    EXPECT_EQ(Text(kAddress, RtPropertyEditText), "198.51.100.6");
    EXPECT_EQ(ListCellText(kList, 0, 1), "198.51.100.6");
    EXPECT_EQ(Messages(), std::vector<std::string>{"路由追踪结束"});
}

TEST_P(FrontEnds, TheHistoryHandlersWorkTheSame) {
    for (const char *t : {"a.example", "", "a.example"}) {
        SetText(kTarget, RtPropertyComboText, t);
        RecordHistory();
    }
    LoadHistory();
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::ComboCount, ArgUnit(target_))), 3);
    EXPECT_EQ(TakeText(CallUnchecked(cmd::ComboItem, ArgUnit(target_), ArgInt(2))), "a.example");
    ClearHistory();
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::ComboCount, ArgUnit(target_))), 1);
    EXPECT_EQ(TakeText(CallUnchecked(cmd::ComboItem, ArgUnit(target_), ArgInt(0))), "toviq.example");
}

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(Windows, FrontEnds, ::testing::Values(Kind::Win32), [](const auto &) { return "Win32"; });
#else
INSTANTIATE_TEST_SUITE_P(BothWindows, FrontEnds, ::testing::Values(Kind::Qt, Kind::Terminal),
                         [](const ::testing::TestParamInfo<Kind> &p) {
                             return p.param == Kind::Qt ? "Qt" : "Terminal";
                         });
#endif
