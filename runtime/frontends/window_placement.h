// Where the window opens and how much of the screen it takes, and how a label shows its whole text:
// pure rules over the form's geometry, shared by the window front ends (Qt and Win32), which supply
// what only the system knows (the work area, the DPI, the font's measure).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "formats/form/form.h"

namespace rt {

struct PixelRect {
    int left = 0, top = 0, width = 0, height = 0;
    int right() const { return left + width; } // one past the last column
    int bottom() const { return top + height; }
    bool Contains(const PixelRect &r) const {
        return r.left >= left && r.top >= top && r.right() <= right() && r.bottom() <= bottom();
    }
    bool operator==(const PixelRect &) const = default;
};

// Design pixels (96 DPI) at a DPI, rounded to the nearest pixel as the system's MulDiv does.
int ScaleToDpi(int designPixels, int dpi);

struct PlacementRequest {
    PixelRect workArea; // the monitor's, without its taskbars, in device pixels
    int dpi = 96;       // that monitor's; 96 is 100 %
    PixelRect form;     // the window's designed outer rectangle (frame, caption and menu bar included)
    int listHeight = 0; // the result list's designed height
    // Device pixels: the list's height with its header and five rows, the least it may have.
    int minListHeight = 0;
    // Device pixels the window needs beyond the form's scaled size, where the system's frame takes
    // more than its designed share.
    int extraWidth = 0, extraHeight = 0;
    // Where the window's top-left corner is now (it moved to this monitor), in device pixels; the
    // form's position at the DPI otherwise.
    std::optional<std::pair<int, int>> at;
};

struct Placement {
    PixelRect window;       // the outer rectangle, in device pixels
    bool resizable = false; // false: exactly the form's geometry at the DPI
    int listHeight = 0;     // the result list's height, in device pixels
    int minWidth = 0;       // the least outer size of a resizable window: the form's width...
    int minHeight = 0;      // ...and five list rows
};

// Where the form fits the work area, the window is exactly the form's. Otherwise it is put inside
// the work area at the form's width, the list giving up the height the work area lacks (down to five
// rows), and may be resized; where even that does not fit, it starts at the work area's top-left.
Placement PlaceWindow(const PlacementRequest &request);

// The list's height in a resizable window whose outer height the user changed: the list alone takes
// or gives up the difference to the needed height, keeping five rows.
int ListHeightFor(const PlacementRequest &request, int windowHeight);

// A control of the window's own (not in a group box) that lies below the result list: it moves up
// or down with the list's lower edge.
bool BelowTheList(const form::Form &form, const form::Control &control);

// The form's layout was designed for a 12-pixel interface font (9 points at 96 DPI); a label may go
// down to 8 pixels to show its whole text.
constexpr int kFormFontPixels = 12;
constexpr int kSmallestFontPixels = 8;

// What a label needs to show its whole text: its width and its font's pixel size.
struct LabelFit {
    int width = 0;
    int fontPixels = 0;
};

// The widest a control may become in the form: up to the nearest control to its right that shares
// some of its rows, or its parent's inner edge (a group box's frame, the window's margin).
int RoomToTheRight(const form::Form &form, const form::Control &control);

// A label whose text (measured at a font pixel size, in the box's pixels) is wider than its box
// keeps its box with a font one pixel smaller where that is enough; otherwise it takes the width it
// needs where `room` allows it, and failing that the largest smaller font that fits `room`. The
// box's width is never reduced; font sizes stop at `minFontPixels`.
LabelFit FitLabel(int boxWidth, int room, int fontPixels, int minFontPixels, const std::function<int(int)> &measure);

} // namespace rt
