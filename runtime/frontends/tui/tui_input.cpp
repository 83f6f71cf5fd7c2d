// Keys and mouse clicks of the terminal window.
#include <algorithm>
#include <climits>
#include <cwchar>

#include "tui_window.h"

namespace rt::tui {
namespace {

std::string EncodeUtf8(wchar_t wc) {
    char buf[MB_LEN_MAX];
    std::mbstate_t state{};
    size_t n = std::wcrtomb(buf, wc, &state);
    return n == size_t(-1) ? std::string() : std::string(buf, n);
}

bool IsEnter(bool code, int ch) { return (!code && (ch == '\n' || ch == '\r')) || (code && ch == KEY_ENTER); }

} // namespace

void TuiWindow::HandleKey(bool code, int ch) {
    if (code && ch == KEY_RESIZE) return Relayout();
    if (!code && ch == kKeyCtrlC) return RequestQuit();
    if (DialogKey(code, ch)) return;
    if (code && ch == KEY_MOUSE) {
        MEVENT e;
        if (getmouse(&e) == OK) Click(e.y, e.x);
        return;
    }
    if (menuOpen_) return MenuKey(code, ch);
    if (dropDown_) return DropDownKey(code, ch);
    if (code && ch == KEY_F(10)) return OpenMenu();
    if (!code && ch == kKeyEscape) { // Alt: the menu; Alt-Down: the focused combo box's list
        wtimeout(stdscr, 30);
        wint_t next;
        int r = wget_wch(stdscr, &next);
        if (r == KEY_CODE_YES && next == KEY_DOWN) {
            if (View *v = Focused()) OpenDropDown(*v);
        } else if (r == ERR) {
            OpenMenu();
        }
        return;
    }
    if (!code && ch == kKeyTab) return MoveFocus(1);
    if (code && ch == KEY_BTAB) return MoveFocus(-1);
    View *v = Focused();
    if (!v) return;
    bool activate = IsEnter(code, ch) || (!code && ch == ' ');
    switch (v->def->type) {
    case form::kEditBox:
    case form::kComboBox: EditKey(*v, code, ch); break;
    case form::kButton:
    case form::kPicture:
        if (activate) Press(*v);
        break;
    case form::kCheckBox:
        if (activate) Toggle(*v);
        break;
    case form::kListView: ListKey(*v, code, ch); break;
    }
}

// The open dialog takes every key; Enter, Space, Escape or a click closes it. False when none is open.
bool TuiWindow::DialogKey(bool code, int ch) {
    std::lock_guard lock(mutex_);
    if (dialogs_.empty()) return false;
    if (IsEnter(code, ch) || (!code && (ch == ' ' || ch == kKeyEscape)) || (code && ch == KEY_MOUSE)) {
        dialogs_.front()->done = true;
        dialogs_.pop_front();
        dirty_ = true;
        closed_.notify_all();
    }
    return true;
}

void TuiWindow::Press(View &v) {
    if (controls().Disabled(v.def->id)) return; // a disabled button cannot be pressed
    if (v.def->type == form::kPicture) {
        if (auto h = form_.Handler(v.def->id, form::kEventMousePressed)) CallPressed(h, 1, 0, 0);
    } else if (auto h = form_.Handler(v.def->id, form::kEventClicked)) {
        Call(*h);
    }
}

void TuiWindow::MoveFocus(int step) {
    if (focusOrder_.empty()) return;
    int n = int(focusOrder_.size());
    focus_ = ((focus_ + step) % n + n) % n;
    dirty_ = true;
}

// Edits the UTF-8 rendering of the field's text; the result goes back to the model as GBK.
void TuiWindow::EditKey(View &v, bool code, int ch) {
    uint32_t id = v.def->id;
    std::string text = GbkToUtf8(controls().Text(id)), before = text;
    size_t &at = v.cursor;
    at = std::min(at, text.size());
    if (code) {
        switch (ch) {
        case KEY_LEFT: at -= PrevChar(text, at); break;
        case KEY_RIGHT:
            if (at < text.size()) at += NextChar(text, at);
            break;
        case KEY_HOME: at = 0; break;
        case KEY_END: at = text.size(); break;
        case KEY_BACKSPACE: {
            size_t n = PrevChar(text, at);
            text.erase(at - n, n);
            at -= n;
            break;
        }
        case KEY_DC:
            if (at < text.size()) text.erase(at, NextChar(text, at));
            break;
        case KEY_DOWN:
            if (v.def->type == form::kComboBox) OpenDropDown(v);
            break;
        }
    } else if (ch == kKeyBackspace || ch == kKeyCtrlH) {
        size_t n = PrevChar(text, at);
        text.erase(at - n, n);
        at -= n;
    } else if (ch >= 32) {
        std::string bytes = EncodeUtf8(wchar_t(ch));
        text.insert(at, bytes);
        at += bytes.size();
    }
    if (text != before) {
        editing_ = true;
        controls().SetText(id, Utf8ToGbk(text));
        editing_ = false;
    }
    dirty_ = true;
}

void TuiWindow::ListKey(View &v, bool code, int ch) {
    if (!code) return;
    int page = VisibleRows(v), last = std::max(0, controls().RowCount(v.def->id) - page);
    switch (ch) {
    case KEY_UP: v.scroll = std::max(0, v.scroll - 1); break;
    case KEY_DOWN: v.scroll = std::min(last, v.scroll + 1); break;
    case KEY_PPAGE: v.scroll = std::max(0, v.scroll - page); break;
    case KEY_NPAGE: v.scroll = std::min(last, v.scroll + page); break;
    case KEY_HOME: v.scroll = 0; break;
    case KEY_END: v.scroll = last; break;
    }
    dirty_ = true;
}

void TuiWindow::OpenMenu() {
    if (menuItems_.empty()) return;
    menuOpen_ = true;
    menuIndex_ = 0;
    dirty_ = true;
}

void TuiWindow::MenuKey(bool code, int ch) {
    int n = int(menuItems_.size());
    auto separator = [&](int i) { return menuItems_[size_t(i)]->caption == "-"; };
    if (code && (ch == KEY_DOWN || ch == KEY_UP)) {
        int step = ch == KEY_DOWN ? 1 : -1;
        do menuIndex_ = ((menuIndex_ + step) % n + n) % n;
        while (separator(menuIndex_));
    } else if (IsEnter(code, ch)) {
        menuOpen_ = false;
        SelectMenuItem(menuIndex_);
    } else if ((!code && ch == kKeyEscape) || (code && ch == KEY_F(10))) {
        menuOpen_ = false;
    }
    dirty_ = true;
}

void TuiWindow::SelectMenuItem(int index) {
    const form::MenuItem *m = menuItems_[size_t(index)];
    if (m->handler >= 0) Call(uint32_t(m->handler));
}

void TuiWindow::OpenDropDown(View &v) {
    if (v.def->type != form::kComboBox || controls().ItemCount(v.def->id) == 0) return;
    dropDown_ = v.def->id;
    dropIndex_ = 0;
    dirty_ = true;
}

void TuiWindow::DropDownKey(bool code, int ch) {
    int n = controls().ItemCount(dropDown_);
    if (n == 0) {
        dropDown_ = 0;
        return;
    }
    if (code && ch == KEY_DOWN) dropIndex_ = std::min(n - 1, dropIndex_ + 1);
    else if (code && ch == KEY_UP) dropIndex_ = std::max(0, dropIndex_ - 1);
    else if (IsEnter(code, ch)) {
        // Choosing an item puts its own bytes into the edit field.
        if (auto item = controls().Item(dropDown_, dropIndex_)) controls().SetText(dropDown_, *item);
        dropDown_ = 0;
    } else if (!code && ch == kKeyEscape) {
        dropDown_ = 0;
    }
    dirty_ = true;
}

void TuiWindow::Click(int row, int col) {
    dirty_ = true;
    if (row == 0) {
        if (menuOpen_) menuOpen_ = false;
        else OpenMenu();
        return;
    }
    if (menuOpen_) {
        int index = row - 2; // the menu's items start below its top border
        menuOpen_ = false;
        if (index >= 0 && index < int(menuItems_.size()) && menuItems_[size_t(index)]->caption != "-")
            SelectMenuItem(index);
        return;
    }
    for (size_t i = 0; i < focusOrder_.size(); ++i) {
        auto cell = layout_.cells.find(focusOrder_[i]);
        if (cell == layout_.cells.end() || !cell->second.contains(row, col)) continue;
        focus_ = int(i);
        View &v = views_.at(focusOrder_[i]);
        if (v.def->type == form::kButton || v.def->type == form::kPicture) Press(v);
        else if (v.def->type == form::kCheckBox) Toggle(v);
        else if (v.def->type == form::kComboBox && col == cell->second.col + cell->second.width - 1) OpenDropDown(v);
        return;
    }
}

} // namespace rt::tui
