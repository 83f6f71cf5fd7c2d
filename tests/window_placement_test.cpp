// Where the window opens on screens of several sizes and scales, and how a label makes room for its
// text: the rules both window front ends share.
#include <gtest/gtest.h>

#include "main_window_segment.h"
#include "runtime/frontends/window_placement.h"

namespace {

using rt::PixelRect;

// The form's window (outer rectangle at 96 DPI) and its list; five rows with the header take about
// 112 pixels at 96 DPI.
rt::PlacementRequest Request(PixelRect area, int dpi) {
    rt::PlacementRequest r;
    r.workArea = area;
    r.dpi = dpi;
    r.form = {50, 50, 600, 800};
    r.listHeight = 350;
    r.minListHeight = rt::ScaleToDpi(112, dpi);
    return r;
}

struct Case {
    const char *screen;
    PixelRect area;
    int dpi;
    PixelRect window;
    bool resizable;
    int list;
};

TEST(WindowPlacement, FitsTheWorkAreaOrKeepsTheFormsGeometry) {
    const Case cases[] = {
        // The form fits: exactly its geometry, fixed.
        {"1600x1200, taskbar below", {0, 0, 1600, 1160}, 96, {50, 50, 600, 800}, false, 350},
        {"1600x1200, taskbar at the left", {48, 0, 1552, 1200}, 96, {50, 50, 600, 800}, false, 350},
        // A taskbar wider than the form's left edge: moved beside it, at full size.
        {"1600x1200, wide taskbar at the left", {62, 0, 1538, 1200}, 96, {62, 50, 600, 800}, true, 350},
        // 1366x768 at 100 %: the list gives up the missing height, the window lies in the work area.
        {"1366x768, taskbar below", {0, 0, 1366, 728}, 96, {50, 0, 600, 728}, true, 278},
        {"1366x768, taskbar above", {0, 40, 1366, 728}, 96, {50, 40, 600, 728}, true, 278},
        {"1366x768, taskbar at the left", {60, 0, 1306, 768}, 96, {60, 0, 600, 768}, true, 318},
        {"1366x768, taskbar at the right", {0, 0, 1306, 768}, 96, {50, 0, 600, 768}, true, 318},
        {"1366x768, no taskbar", {0, 0, 1366, 768}, 96, {50, 0, 600, 768}, true, 318},
        // 1920x1080 at 150 %: 900 x 1200 pixels wanted.
        {"1920x1080 at 150 %", {0, 0, 1920, 1032}, 144, {75, 0, 900, 1032}, true, 357},
        // 1280x1024 at 200 %: even five rows do not fit, so it starts at the top-left corner.
        {"1280x1024 at 200 %", {0, 0, 1280, 984}, 192, {0, 0, 1200, 1124}, true, 224},
        // A monitor left of the primary one, narrower than the form: the top-left corner too.
        {"a narrow monitor", {-500, 0, 500, 1000}, 96, {-500, 0, 600, 800}, true, 350},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.screen);
        rt::Placement p = rt::PlaceWindow(Request(c.area, c.dpi));
        EXPECT_EQ(p.window, c.window);
        EXPECT_EQ(p.resizable, c.resizable);
        EXPECT_EQ(p.listHeight, c.list);
        if (p.resizable) {
            EXPECT_EQ(p.minWidth, rt::ScaleToDpi(600, c.dpi)) << "never narrower than the form";
            EXPECT_EQ(p.minHeight, rt::ScaleToDpi(800 - 350 + 112, c.dpi)) << "five rows at least";
            EXPECT_GE(p.window.height, p.minHeight);
        }
        bool fewestFit = p.window.width <= c.area.width && p.minHeight <= c.area.height;
        EXPECT_EQ(c.area.Contains(p.window), fewestFit) << "inside the work area wherever five rows fit";
    }
}

TEST(WindowPlacement, AFrameWiderThanDesignedIsAddedToTheFormsSize) {
    rt::PlacementRequest r = Request({0, 0, 1600, 1160}, 96);
    r.extraWidth = 4;
    r.extraHeight = 10;
    rt::Placement p = rt::PlaceWindow(r);
    EXPECT_EQ(p.window, (PixelRect{50, 50, 604, 810}));
    EXPECT_FALSE(p.resizable);
    EXPECT_EQ(p.listHeight, 350);
    r.workArea = {0, 0, 1366, 728};
    p = rt::PlaceWindow(r);
    EXPECT_EQ(p.window, (PixelRect{50, 0, 604, 728}));
    EXPECT_EQ(p.listHeight, 350 - 82) << "the frame's extra height is missing too";
}

TEST(WindowPlacement, MovedToAMonitorOfAnotherDpiItIsPlacedAgainThere) {
    // From a 1600x1200 monitor at 96 DPI to one at 150 % right of it, where the form does not fit.
    rt::PlacementRequest r = Request({1600, 0, 1920, 1040}, 144);
    r.at = {{1700, 100}};
    rt::Placement p = rt::PlaceWindow(r);
    EXPECT_EQ(p.window, (PixelRect{1700, 0, 900, 1040}));
    EXPECT_TRUE(p.resizable);
    EXPECT_EQ(p.listHeight, 525 - 160);
    // Dragged near the right edge: kept inside.
    r.at = {{3400, 100}};
    EXPECT_EQ(rt::PlaceWindow(r).window, (PixelRect{2620, 0, 900, 1040}));
    // And back to 96 DPI where it fits where it is: the form's size there, fixed again.
    r = Request({0, 0, 1600, 1160}, 96);
    r.at = {{300, 200}};
    p = rt::PlaceWindow(r);
    EXPECT_EQ(p.window, (PixelRect{300, 200, 600, 800}));
    EXPECT_FALSE(p.resizable);
    EXPECT_EQ(p.listHeight, 350);
}

TEST(WindowPlacement, AResizedWindowsListTakesTheDifferenceKeepingFiveRows) {
    rt::PlacementRequest r = Request({0, 0, 1366, 728}, 96);
    const std::pair<int, int> cases[] = {{728, 278}, {800, 350}, {900, 450}, {600, 150}, {562, 112}, {300, 112}};
    for (auto [height, list] : cases) EXPECT_EQ(rt::ListHeightFor(r, height), list) << height;
}

TEST(WindowPlacement, ScalingRoundsAsTheSystemDoes) {
    const int cases[][3] = {{350, 144, 525}, {7, 144, 11}, {5, 144, 8}, {130, 120, 163}, {-7, 144, -11}, {0, 192, 0}};
    for (auto [v, dpi, scaled] : cases) EXPECT_EQ(rt::ScaleToDpi(v, dpi), scaled) << v << " at " << dpi;
}

TEST(LabelFit, ALabelTakesASmallerFontOrTheRoomToItsRight) {
    // A text 11 pixels wide per pixel of font size: 132 at 12 pixels.
    auto measure = [](int px) { return 11 * px; };
    struct {
        int box, room, width, font;
    } cases[] = {
        {132, 140, 132, 12}, // fits its box: unchanged
        {150, 150, 150, 12}, // a box wider than its text keeps its width
        {130, 138, 130, 11}, // one pixel smaller fits: the box stays
        {120, 140, 132, 12}, // it does not: as wide as its text, in the room to its right
        {100, 110, 110, 10}, // neither: the largest font that fits the room
        {40, 40, 88, 8},     // not even the smallest size fits: never clipped
    };
    for (auto c : cases) {
        rt::LabelFit fit = rt::FitLabel(c.box, c.room, 12, 8, measure);
        EXPECT_EQ(fit.width, c.width) << c.box << " in " << c.room;
        EXPECT_EQ(fit.fontPixels, c.font) << c.box << " in " << c.room;
    }
}

TEST(LabelFit, TheRoomToALabelsRightEndsAtItsNeighbourOrItsFrame) {
    form::Form f = rt::testing::MainWindowDescription();
    const std::pair<uint32_t, int> cases[] = {
        {unit_id::Id_Label1, 80 - 5 - 10},    // the target box beside it
        {unit_id::Id_Label7, 580 - 7 - 435},  // the group box's frame
        {unit_id::Id_Label5, 485 - 5 - 10},   // the start button beside it
        {unit_id::Id_StartButton, 587 - 485}, // the window's controls end where the list does
    };
    for (auto [id, room] : cases) EXPECT_EQ(rt::RoomToTheRight(f, *f.Find(id)), room) << std::hex << id;
}

} // namespace
