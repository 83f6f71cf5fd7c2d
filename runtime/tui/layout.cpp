#include "layout.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <set>
#include <vector>

namespace rt::tui {

int DisplayWidth(std::string_view utf8) {
    int width = 0;
    std::mbstate_t state{};
    const char *p = utf8.data();
    size_t left = utf8.size();
    while (left > 0) {
        wchar_t wc;
        size_t n = std::mbrtowc(&wc, p, left, &state);
        if (n == size_t(-1) || n == size_t(-2)) { // not UTF-8: one column a byte
            state = {};
            ++width;
            ++p;
            --left;
            continue;
        }
        if (n == 0) n = 1;
        int w = ::wcwidth(wc);
        width += w < 0 ? 1 : w;
        p += n;
        left -= n;
    }
    return width;
}

std::string_view ClipToWidth(std::string_view utf8, int width) {
    int used = 0;
    std::mbstate_t state{};
    size_t at = 0;
    while (at < utf8.size()) {
        wchar_t wc;
        size_t n = std::mbrtowc(&wc, utf8.data() + at, utf8.size() - at, &state);
        int w = 1;
        if (n == size_t(-1) || n == size_t(-2)) {
            state = {};
            n = 1;
        } else {
            if (n == 0) n = 1;
            w = std::max(::wcwidth(wc), 0);
        }
        if (used + w > width) break;
        used += w;
        at += n;
    }
    return utf8.substr(0, at);
}

namespace {

struct Placed {
    const form::Control *control;
    int x, y, w, h; // in the window's client area, pixels
};

bool IsSingleRow(uint32_t type) { return type != form::kGroupBox && type != form::kListView; }
bool MayGrow(uint32_t type) {
    return type == form::kLabel || type == form::kButton || type == form::kCheckBox || type == form::kPicture;
}

} // namespace

Layout ComputeLayout(const form::Form &form, int columns, int rows, const std::map<uint32_t, int> &captionWidth) {
    Layout layout;
    if (columns < kMinColumns || rows < kMinRows) return layout;

    std::vector<Placed> placed;
    for (const form::Control &c : form.controls) {
        int x = c.left, y = c.top;
        if (c.parent) {
            const form::Control *p = form.Find(c.parent);
            if (p) {
                x += p->left;
                y += p->top;
            }
        }
        placed.push_back({&c, x, y, c.width, c.height});
    }

    // Rows: every distinct top edge (and every group box's bottom edge) in order, one row each; the
    // list's row stretches over what the terminal has to spare.
    std::set<int> edges;
    int listTop = -1;
    for (const Placed &p : placed) {
        edges.insert(p.y);
        if (p.control->type == form::kGroupBox) edges.insert(p.y + p.h);
        if (p.control->type == form::kListView) listTop = p.y;
    }
    int needed = int(edges.size());
    int spare = (rows - 1) - needed; // the first row is the menu bar
    int listRows = 1 + spare;
    if (listTop >= 0 && listRows < kMinListRows) return layout;
    std::map<int, int> rowOf;
    int row = 1;
    for (int edge : edges) {
        rowOf[edge] = row;
        row += (edge == listTop) ? listRows : 1;
    }

    double scale = double(columns) / form.window.width;
    auto colOf = [&](int x) { return int(std::lround(x * scale)); };
    for (const Placed &p : placed) {
        Cell cell;
        cell.row = rowOf[p.y];
        cell.col = colOf(p.x);
        cell.width = std::max(1, colOf(p.x + p.w) - cell.col);
        if (p.control->type == form::kGroupBox) cell.height = rowOf[p.y + p.h] - cell.row + 1;
        else if (p.control->type == form::kListView) cell.height = listRows;
        layout.cells[p.control->id] = cell;
    }

    // Captions may take free columns to their right, up to the next control on the same row or the
    // frame of the group box around them.
    for (const Placed &p : placed) {
        if (!MayGrow(p.control->type)) continue;
        auto wanted = captionWidth.find(p.control->id);
        Cell &cell = layout.cells[p.control->id];
        if (wanted == captionWidth.end() || wanted->second <= cell.width) continue;
        int limit = columns;
        if (p.control->parent) {
            const Cell &frame = layout.cells[p.control->parent];
            limit = frame.col + frame.width - 1;
        }
        for (const Placed &q : placed) {
            if (q.control == p.control || q.control->type == form::kGroupBox) continue;
            const Cell &other = layout.cells[q.control->id];
            bool sameRows = other.row <= cell.row && cell.row < other.row + other.height;
            if (sameRows && other.col >= cell.col + cell.width) limit = std::min(limit, other.col - 1);
        }
        cell.width = std::max(cell.width, std::min(wanted->second, limit - cell.col));
    }
    for (auto &[id, cell] : layout.cells)
        if (IsSingleRow(form.Find(id)->type)) cell.height = 1;
    layout.fits = true;
    return layout;
}

} // namespace rt::tui
