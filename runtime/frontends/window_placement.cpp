#include "window_placement.h"

#include <algorithm>
#include <cstdlib>

namespace rt {
namespace {

// The space the form keeps between a group box's frame and what it holds, and between neighbours
// in one row (the packet-count box ends 5 pixels before its hint).
constexpr int kInnerMargin = 7;
constexpr int kGap = 5;

const form::Control *Parent(const form::Form &form, const form::Control &c) {
    return c.parent ? form.Find(c.parent) : nullptr;
}

} // namespace

int ScaleToDpi(int designPixels, int dpi) {
    long long product = (long long)designPixels * dpi;
    long long half = product < 0 ? -48 : 48;
    return int((product + half) / 96);
}

Placement PlaceWindow(const PlacementRequest &r) {
    const PixelRect &area = r.workArea;
    const int width = ScaleToDpi(r.form.width, r.dpi) + r.extraWidth;
    const int height = ScaleToDpi(r.form.height, r.dpi) + r.extraHeight;
    const int list = ScaleToDpi(r.listHeight, r.dpi);
    const int fewest = std::clamp(r.minListHeight, 0, list);
    auto [x, y] = r.at.value_or(std::pair{ScaleToDpi(r.form.left, r.dpi), ScaleToDpi(r.form.top, r.dpi)});

    Placement p;
    p.minWidth = width;
    p.minHeight = height - (list - fewest);
    p.window = {x, y, width, height};
    p.listHeight = list;
    if (area.Contains(p.window)) return p;

    p.resizable = true;
    // As tall as the work area allows, never below five rows.
    p.window.height = std::max(p.minHeight, std::min(height, area.height));
    if (p.minWidth > area.width || p.minHeight > area.height) {
        p.window.left = area.left;
        p.window.top = area.top;
    } else {
        p.window.left = std::clamp(x, area.left, area.right() - p.window.width);
        p.window.top = std::clamp(y, area.top, area.bottom() - p.window.height);
    }
    p.listHeight = list - (height - p.window.height);
    return p;
}

int ListHeightFor(const PlacementRequest &r, int windowHeight) {
    const int height = ScaleToDpi(r.form.height, r.dpi) + r.extraHeight;
    const int list = ScaleToDpi(r.listHeight, r.dpi);
    return std::max(std::clamp(r.minListHeight, 0, list), list + (windowHeight - height));
}

bool BelowTheList(const form::Form &form, const form::Control &c) {
    for (const form::Control &list : form.controls)
        if (list.type == form::kListView && !c.parent && c.top >= list.top + list.height) return true;
    return false;
}

int RoomToTheRight(const form::Form &form, const form::Control &c) {
    int edge = 0;
    if (const form::Control *parent = Parent(form, c)) {
        edge = parent->width - kInnerMargin;
    } else {
        // The window's own controls end where the widest of them does: the form's right margin.
        for (const form::Control &o : form.controls)
            if (!Parent(form, o)) edge = std::max(edge, o.left + o.width);
    }
    for (const form::Control &o : form.controls) {
        bool sibling = o.id != c.id && o.parent == c.parent;
        bool sameRows = o.top < c.top + c.height && c.top < o.top + o.height;
        if (sibling && sameRows && o.left >= c.left + c.width) edge = std::min(edge, o.left - kGap);
    }
    return std::max(c.width, edge - c.left);
}

LabelFit FitLabel(int boxWidth, int room, int fontPixels, int minFontPixels, const std::function<int(int)> &measure) {
    int needed = measure(fontPixels);
    if (needed <= boxWidth) return {boxWidth, fontPixels};
    // A font one pixel smaller is hardly seen, and the form keeps its geometry.
    if (fontPixels > minFontPixels && measure(fontPixels - 1) <= boxWidth) return {boxWidth, fontPixels - 1};
    room = std::max(room, boxWidth);
    int size = fontPixels;
    while (needed > room && size > minFontPixels) needed = measure(--size);
    return {std::max(boxWidth, needed), size};
}

} // namespace rt
