// Where the window's controls go on a terminal: the form's pixel geometry mapped to character cells.
// Columns scale with the terminal's width; rows keep the form's order (each distinct top edge gets a
// row of its own) and the result list takes every row left over.
#pragma once

#include <cstdint>
#include <map>
#include <string_view>

#include "formats/form/form.h"

namespace rt::tui {

struct Cell {
    int row = 0, col = 0, width = 0, height = 1;
    bool contains(int r, int c) const { return r >= row && r < row + height && c >= col && c < col + width; }
};

struct Layout {
    bool fits = false;              // false: the terminal is smaller than the form needs
    std::map<uint32_t, Cell> cells; // by unit identifier
};

inline constexpr int kMinColumns = 80;
inline constexpr int kMinRows = 24;
inline constexpr int kMinListRows = 4; // header and three rows

// The number of terminal columns a UTF-8 text takes (wide characters take two).
int DisplayWidth(std::string_view utf8);
// The longest start of a UTF-8 text that fits in that many columns.
std::string_view ClipToWidth(std::string_view utf8, int width);

// captionWidth gives the columns a control's caption needs (labels, buttons and check boxes may
// grow into free space on their row to show it).
Layout ComputeLayout(const form::Form &form, int columns, int rows, const std::map<uint32_t, int> &captionWidth);

} // namespace rt::tui
