// The terminal layout of the main window: nothing overlaps at 80 x 24 and larger, everything lies on
// the screen, and a smaller terminal is refused.
#include <clocale>

#include <gtest/gtest.h>

#include "formats/form/form.h"
#include "runtime/core/runtime.h"
#include "runtime/frontends/tui/layout.h"
#include "window_fixture.h"
#include "contract/form_layout.h"

namespace {

struct Decoded {
    std::vector<uint8_t> bytes;
    form::Form form;
};

Decoded MainWindow() {
    Decoded d{rt::testing::MainWindowSegment(), {}};
    d.form = *form::DecodeForm(d.bytes).form;
    return d;
}

std::map<uint32_t, int> CaptionWidths(const form::Form &f) {
    std::map<uint32_t, int> widths;
    for (const auto &c : f.controls) widths[c.id] = rt::tui::DisplayWidth(rt::GbkToUtf8(c.caption)) + 2;
    return widths;
}

bool Inside(const rt::tui::Cell &inner, const rt::tui::Cell &outer) {
    return inner.row > outer.row && inner.row + inner.height < outer.row + outer.height && inner.col > outer.col &&
           inner.col + inner.width < outer.col + outer.width;
}

bool Overlap(const rt::tui::Cell &a, const rt::tui::Cell &b) {
    return a.row < b.row + b.height && b.row < a.row + a.height && a.col < b.col + b.width && b.col < a.col + a.width;
}

} // namespace

TEST(TerminalLayout, NothingOverlapsAndEverythingIsOnTheScreen) {
    std::setlocale(LC_ALL, "C.UTF-8");
    Decoded d = MainWindow();
    for (auto [cols, rows] : {std::pair{80, 24}, std::pair{100, 30}, std::pair{200, 60}}) {
        SCOPED_TRACE(std::to_string(cols) + " x " + std::to_string(rows));
        rt::tui::Layout layout = rt::tui::ComputeLayout(d.form, cols, rows, CaptionWidths(d.form));
        ASSERT_TRUE(layout.fits);
        ASSERT_EQ(layout.cells.size(), 18u);
        for (const auto &[id, cell] : layout.cells) {
            EXPECT_GE(cell.row, 1) << std::hex << id << ": below the menu bar";
            EXPECT_LE(cell.row + cell.height, rows) << std::hex << id;
            EXPECT_GE(cell.col, 0);
            EXPECT_LE(cell.col + cell.width, cols) << std::hex << id;
            EXPECT_GE(cell.width, 1);
        }
        for (const auto &a : d.form.controls)
            for (const auto &b : d.form.controls) {
                if (a.id >= b.id) continue;
                const auto &ca = layout.cells.at(a.id), &cb = layout.cells.at(b.id);
                if (a.parent == b.id) EXPECT_TRUE(Inside(ca, cb)) << std::hex << a.id << " inside " << b.id;
                else if (b.parent == a.id) EXPECT_TRUE(Inside(cb, ca)) << std::hex << b.id << " inside " << a.id;
                else EXPECT_FALSE(Overlap(ca, cb)) << std::hex << a.id << " and " << b.id;
            }
        EXPECT_GE(layout.cells.at(unit_id::Id_ResultList).height, rt::tui::kMinListRows);
        // Labels show their whole caption at 80 columns already.
        EXPECT_GE(layout.cells.at(unit_id::Id_Label1).width, rt::tui::DisplayWidth("目标网址"));
    }
}

TEST(TerminalLayout, ASmallerTerminalIsRefused) {
    Decoded d = MainWindow();
    EXPECT_FALSE(rt::tui::ComputeLayout(d.form, 79, 24, {}).fits);
    EXPECT_FALSE(rt::tui::ComputeLayout(d.form, 80, 23, {}).fits);
    EXPECT_TRUE(rt::tui::ComputeLayout(d.form, 80, 24, {}).fits);
}

TEST(TerminalLayout, WideCharactersTakeTwoColumns) {
    std::setlocale(LC_ALL, "C.UTF-8");
    EXPECT_EQ(rt::tui::DisplayWidth("abc"), 3);
    EXPECT_EQ(rt::tui::DisplayWidth("路由追踪"), 8);
    EXPECT_EQ(rt::tui::DisplayWidth("＞"), 2);
    EXPECT_EQ(rt::tui::ClipToWidth("路由追踪", 5), "路由");
    EXPECT_EQ(rt::tui::ClipToWidth("a路由", 2), "a");
    EXPECT_EQ(rt::tui::ClipToWidth("\xFF\xFEok", 3), "\xFF\xFEo") << "bytes that are no UTF-8 count one column each";
}
