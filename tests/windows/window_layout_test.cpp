// The Win32 window laid out at 96, 144 and 192 DPI, as when it moves to a monitor of that scale:
// each label's text measured with the font it is drawn in, and the window placed on its monitor.
#include <windows.h>

#include <commctrl.h>

#include "host_fixture.h"
#include "main_window_segment.h"
#include "runtime/frontends/console_frontend.h"
#include "runtime/frontends/win32/win32_frontend.h"
#include "runtime/frontends/window_placement.h"
#include "temp_dir.h"

using namespace rt::testing;

namespace {

class Win32Layout : public ::testing::Test {
  protected:
    void SetUp() override {
        bytes_ = MainWindowSegment();
        auto routineAt = [](uint32_t i) { return i < kRoutines.size() ? kRoutines[i] : nullptr; };
        auto created = rt::Win32FrontEnd::Create({bytes_, uint32_t(kHandlers.size()), routineAt});
        ASSERT_TRUE(created) << Describe(created.error());
        window_ = created->get();
        rt::Runtime::Instance().SetProgramFolder(folder_.path().string());
        rt::Runtime::Instance().SetFrontEnd(std::move(*created));
        window_->ShowWindow(unit_id::Id_MainWindow);
        // window_fit_e2e.sh runs these under Xvfb; wine without a display makes no window.
        if (!Main()) GTEST_SKIP() << "no window can be made here (wine has no display)";
    }
    void TearDown() override {
        rt::Runtime::Instance().SetFrontEnd(rt::MakeConsoleFrontEnd());
        rt::Runtime::Instance().SetProgramFolder("");
    }

    HWND Native(uint32_t unit) { return static_cast<HWND>(window_->Native(unit)); }
    HWND Main() { return Native(unit_id::Id_MainWindow); }

    // What the system sends when the window has moved to a monitor of another DPI, with the
    // rectangle it suggests: the form's, at that scale.
    void MoveToDpi(int dpi) {
        RECT suggested{rt::ScaleToDpi(50, dpi), rt::ScaleToDpi(50, dpi), rt::ScaleToDpi(650, dpi),
                       rt::ScaleToDpi(850, dpi)};
        ::SendMessageW(Main(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    }

    // A control's rectangle in the window's client area.
    RECT Rect(uint32_t unit) {
        RECT r{};
        ::GetWindowRect(Native(unit), &r);
        ::MapWindowPoints(nullptr, Main(), reinterpret_cast<POINT *>(&r), 2);
        return r;
    }

    TempDir folder_;
    std::vector<uint8_t> bytes_;
    form::Form form_ = MainWindowDescription();
    rt::Win32FrontEnd *window_ = nullptr;
};

TEST_F(Win32Layout, EveryLabelShowsItsWholeTextAt96144And192Dpi) {
    for (int dpi : {96, 144, 192}) {
        MoveToDpi(dpi);
        for (const form::Control &c : form_.controls) {
            if (c.type != form::kLabel) continue;
            SCOPED_TRACE(rt::GbkToUtf8(c.caption) + " at " + std::to_string(dpi) + " DPI");
            HWND label = Native(c.id);
            wchar_t text[256] = {};
            int length = ::GetWindowTextW(label, text, 256);
            HDC dc = ::GetDC(label);
            HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0)));
            SIZE extent{};
            ::GetTextExtentPoint32W(dc, text, length, &extent);
            ::SelectObject(dc, old);
            ::ReleaseDC(label, dc);
            RECT box;
            ::GetClientRect(label, &box);
            EXPECT_LE(extent.cx, box.right) << "one line, as wide as its box at most";
            EXPECT_LE(extent.cy, box.bottom);
            // Nothing covers a part of it: inside its group box, beside its neighbours.
            RECT r = Rect(c.id), common;
            if (c.parent) {
                RECT group = Rect(c.parent);
                EXPECT_TRUE(r.left >= group.left && r.right <= group.right && r.bottom <= group.bottom);
            }
            for (const form::Control &o : form_.controls)
                if (o.id != c.id && o.type != form::kGroupBox) {
                    RECT other = Rect(o.id);
                    if (o.type == form::kComboBox) other.bottom = other.top + rt::ScaleToDpi(o.height, dpi);
                    EXPECT_FALSE(::IntersectRect(&common, &r, &other)) << rt::GbkToUtf8(o.name);
                }
        }
    }
}

TEST_F(Win32Layout, MovedToAMonitorOfAnotherDpiTheWindowIsPlacedThere) {
    for (int dpi : {144, 192, 96}) {
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        MoveToDpi(dpi);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromWindow(Main(), MONITOR_DEFAULTTONEAREST), &monitor);
        RECT outer, client, common;
        ::GetWindowRect(Main(), &outer);
        ::GetClientRect(Main(), &client);
        const RECT &area = monitor.rcWork;
        EXPECT_GE(outer.right - outer.left, rt::ScaleToDpi(600, dpi)) << "the form's width at least";
        bool resizable = ::GetWindowLongW(Main(), GWL_STYLE) & WS_THICKFRAME;
        if (!resizable) {
            EXPECT_TRUE(::IntersectRect(&common, &outer, &area) && ::EqualRect(&common, &outer)) << "it fits";
            EXPECT_EQ(Rect(unit_id::Id_ResultList).bottom - Rect(unit_id::Id_ResultList).top, rt::ScaleToDpi(350, dpi));
        } else if (outer.left != area.left || outer.top != area.top) {
            EXPECT_TRUE(::IntersectRect(&common, &outer, &area) && ::EqualRect(&common, &outer)) << "placed inside";
        }
        // Five rows at least, and the emblem below the list inside the client area.
        HWND list = Native(unit_id::Id_ResultList);
        EXPECT_GE(::SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0), 5);
        RECT picture = Rect(unit_id::Id_Picture);
        EXPECT_GE(picture.top, Rect(unit_id::Id_ResultList).bottom);
        EXPECT_LE(picture.bottom, client.bottom);
    }
}

} // namespace
