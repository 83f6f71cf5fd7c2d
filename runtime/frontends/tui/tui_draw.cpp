// Drawing the terminal window: the menu bar, the controls over their group boxes, and whatever is
// open above them (a drop-down list, the menu, a message).
#include <algorithm>

#include "tui_window.h"

namespace rt::tui {
namespace {

// Every text goes through here: a control character (a place from the database, an entry of the
// history) is drawn as '?', never sent to the terminal, where it would move the cursor or forge rows.
void Put(int row, int col, int width, std::string_view utf8, attr_t attr = A_NORMAL) {
    if (width <= 0) return;
    std::string safe = ReplaceControls(utf8);
    std::string_view shown = ClipToWidth(safe, width);
    attron(attr);
    mvaddnstr(row, col, shown.data(), int(shown.size()));
    attroff(attr);
}

// Frames use the wide-character line drawing, which ncursesw writes as UTF-8 box characters.
void Frame(const Cell &c, std::string_view title) {
    mvhline_set(c.row, c.col + 1, WACS_HLINE, c.width - 2);
    mvhline_set(c.row + c.height - 1, c.col + 1, WACS_HLINE, c.width - 2);
    mvvline_set(c.row + 1, c.col, WACS_VLINE, c.height - 2);
    mvvline_set(c.row + 1, c.col + c.width - 1, WACS_VLINE, c.height - 2);
    mvadd_wch(c.row, c.col, WACS_ULCORNER);
    mvadd_wch(c.row, c.col + c.width - 1, WACS_URCORNER);
    mvadd_wch(c.row + c.height - 1, c.col, WACS_LLCORNER);
    mvadd_wch(c.row + c.height - 1, c.col + c.width - 1, WACS_LRCORNER);
    if (!title.empty()) Put(c.row, c.col + 2, c.width - 4, " " + std::string(title) + " ", A_BOLD);
}

void Blank(const Cell &box) {
    for (int r = 0; r < box.height; ++r) mvhline(box.row + r, box.col, ' ', box.width);
}

} // namespace

void TuiWindow::Draw() {
    dirty_ = false;
    {
        std::lock_guard lock(mutex_);
        for (uint32_t unit : cursorToEnd_)
            if (auto it = views_.find(unit); it != views_.end()) it->second.cursor = SIZE_MAX;
        cursorToEnd_.clear();
    }
    erase();
    int rows, cols;
    getmaxyx(stdscr, rows, cols);
    if (!layout_.fits) {
        std::string message = "终端太小 / terminal too small: " + std::to_string(kMinColumns) + " x " +
                              std::to_string(kMinRows) + " at least";
        Put(rows / 2, std::max(0, (cols - DisplayWidth(message)) / 2), cols, message);
        curs_set(0);
        refresh();
        return;
    }
    // The menu bar, with the window's caption at its right.
    mvhline(0, 0, ' ' | A_REVERSE, cols);
    std::string entry = form_.menu.empty() ? "" : " " + form_.menu[0].caption + " ";
    Put(0, 1, cols - 1, entry, menuOpen_ ? A_NORMAL : A_REVERSE);
    const std::string &caption = form_.window.caption;
    int captionWidth = DisplayWidth(caption);
    if (captionWidth + 12 < cols) Put(0, cols - captionWidth - 1, captionWidth, caption, A_REVERSE);

    int cursorRow = -1, cursorCol = -1;
    View *focused = Focused();
    for (int pass = 0; pass < 2; ++pass) // group boxes first, their contents over them
        for (const form::Control &def : form_.controls)
            if ((def.type == form::kGroupBox) == (pass == 0))
                DrawControl(def, views_.at(def.id), focused && focused->def == &def, cursorRow, cursorCol);
    if (dropDown_) DrawDropDown();
    if (menuOpen_) DrawMenu();
    bool dialog;
    {
        std::lock_guard lock(mutex_);
        dialog = !dialogs_.empty();
        if (dialog) DrawDialog(*dialogs_.front(), rows, cols);
    }
    bool showCursor = cursorRow >= 0 && !menuOpen_ && !dropDown_ && !dialog;
    curs_set(showCursor ? 1 : 0);
    if (showCursor) move(cursorRow, cursorCol);
    refresh();
}

void TuiWindow::DrawControl(const form::Control &def, const View &constView, bool focus, int &cursorRow,
                            int &cursorCol) {
    View &v = const_cast<View &>(constView); // the view's cursor and scroll follow what is drawn
    const Cell &cell = layout_.cells.at(def.id);
    ControlModel::Control state = controls().Snapshot(def.id);
    attr_t dim = state.disabled ? A_DIM : A_NORMAL;
    switch (def.type) {
    case form::kGroupBox: Frame(cell, def.caption); break;
    case form::kLabel: Put(cell.row, cell.col, cell.width, def.caption, dim); break;
    case form::kEditBox:
    case form::kComboBox: {
        std::string text = GbkToUtf8(state.text);
        v.cursor = std::min(v.cursor, text.size());
        int field = def.type == form::kComboBox ? cell.width - 1 : cell.width;
        mvhline(cell.row, cell.col, ' ' | A_UNDERLINE, field);
        // Scroll so that the cursor stays in the field.
        std::string_view before(text.data(), v.cursor);
        size_t start = 0;
        while (DisplayWidth(before.substr(start)) >= field) start += NextChar(text, start);
        Put(cell.row, cell.col, field, std::string_view(text).substr(start), A_UNDERLINE | dim);
        if (def.type == form::kComboBox) Put(cell.row, cell.col + field, 1, "▾", A_REVERSE);
        if (focus) {
            cursorRow = cell.row;
            cursorCol = cell.col + DisplayWidth(before.substr(start));
        }
        break;
    }
    case form::kButton: {
        std::string shown = "[" + def.caption + "]";
        int pad = std::max(0, (cell.width - DisplayWidth(shown)) / 2);
        Put(cell.row, cell.col + pad, cell.width - pad, shown, (focus ? A_REVERSE : A_BOLD) | dim);
        break;
    }
    case form::kCheckBox:
        Put(cell.row, cell.col, cell.width, std::string(v.checked ? "[x] " : "[ ] ") + def.caption,
            focus ? A_REVERSE : A_NORMAL);
        break;
    case form::kPicture:
        Put(cell.row, cell.col, cell.width, options_.pictureLabel, (focus ? A_REVERSE : A_NORMAL) | A_UNDERLINE);
        break;
    case form::kListView: {
        // Follow the newest row, as a list view scrolls to what the trace appends.
        int count = int(state.rows.size());
        if (count < v.seenRows) v.scroll = 0;
        else if (count > v.seenRows) v.scroll = std::max(0, count - VisibleRows(v));
        v.seenRows = count;
        DrawList(def, cell, v, state, focus);
        break;
    }
    }
}

void TuiWindow::DrawList(const form::Control &def, const Cell &cell, const View &v, const ControlModel::Control &state,
                         bool focus) {
    // Column widths in proportion to the form's, over the list's width.
    uint32_t total = 0;
    for (const form::Column &col : def.columns) total += col.width;
    std::vector<int> starts, widths;
    int at = cell.col;
    for (size_t i = 0; i < def.columns.size(); ++i) {
        int w = total ? int(double(def.columns[i].width) * cell.width / total) : cell.width / int(def.columns.size());
        starts.push_back(at);
        widths.push_back(std::max(1, w - 1));
        at += w;
    }
    mvhline(cell.row, cell.col, ' ' | A_REVERSE, cell.width);
    for (size_t i = 0; i < starts.size(); ++i)
        Put(cell.row, starts[i], widths[i], def.columns[i].caption, A_REVERSE | (focus ? A_BOLD : A_NORMAL));
    int visible = cell.height - 1;
    for (int r = 0; r < visible && size_t(v.scroll + r) < state.rows.size(); ++r) {
        const auto &row = state.rows[size_t(v.scroll + r)];
        for (size_t i = 0; i < starts.size() && i < row.size(); ++i)
            Put(cell.row + 1 + r, starts[i], widths[i], GbkToUtf8(row[i]));
    }
    if (int(state.rows.size()) > visible) { // where the view is in the list
        std::string where = std::to_string(v.scroll + 1) + "-" +
                            std::to_string(std::min(int(state.rows.size()), v.scroll + visible)) + "/" +
                            std::to_string(state.rows.size());
        Put(cell.row, cell.col + cell.width - int(where.size()), int(where.size()), where, A_REVERSE);
    }
}

void TuiWindow::DrawDropDown() {
    ControlModel::Control state = controls().Snapshot(dropDown_);
    const Cell &cell = layout_.cells.at(dropDown_);
    int n = std::min(int(state.items.size()), kDropDownRows);
    int first = std::max(0, dropIndex_ - n + 1);
    for (int i = 0; i < n; ++i) {
        int index = first + i;
        mvhline(cell.row + 1 + i, cell.col, ' ' | A_REVERSE, cell.width);
        Put(cell.row + 1 + i, cell.col, cell.width, GbkToUtf8(state.items[size_t(index)]),
            index == dropIndex_ ? A_NORMAL : A_REVERSE);
    }
}

void TuiWindow::DrawMenu() {
    int width = 4;
    for (const form::MenuItem *m : menuItems_) width = std::max(width, DisplayWidth(m->caption) + 4);
    Cell box{1, 1, width, int(menuItems_.size()) + 2};
    Blank(box);
    Frame(box, "");
    for (size_t i = 0; i < menuItems_.size(); ++i) {
        const std::string &caption = menuItems_[i]->caption;
        if (caption == "-") mvhline_set(box.row + 1 + int(i), box.col + 1, WACS_HLINE, box.width - 2);
        else
            Put(box.row + 1 + int(i), box.col + 2, box.width - 3, caption, int(i) == menuIndex_ ? A_REVERSE : A_NORMAL);
    }
}

void TuiWindow::DrawDialog(const Dialog &d, int rows, int cols) {
    int width = std::min(cols - 2, std::max({DisplayWidth(d.text), DisplayWidth(d.title) + 4, 10}) + 6);
    Cell box{rows / 2 - 3, (cols - width) / 2, width, 6};
    Blank(box);
    Frame(box, ClipToWidth(d.title, width - 6));
    Put(box.row + 2, box.col + 3, width - 6, d.text);
    Put(box.row + 4, box.col + (width - 6) / 2, 6, "[ OK ]", A_REVERSE);
}

} // namespace rt::tui
