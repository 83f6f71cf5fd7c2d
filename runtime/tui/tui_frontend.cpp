#include "tui_frontend.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <langinfo.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <clocale>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "../form.h"
#include "layout.h"

namespace rt {
namespace {

constexpr int kColumns = 4;
constexpr int kPollMs = 50;
constexpr int kDropDownRows = 8;
constexpr int kKeyEscape = 27, kKeyTab = 9, kKeyCtrlC = 3, kKeyBackspace = 127, kKeyCtrlH = 8;

// What a control shows and holds, in UTF-8; the program's GBK is converted at the edge.
struct ControlState {
    const form::Control *def = nullptr;
    std::string text;  // an edit box's text, a combo box's edit field
    size_t cursor = 0; // byte offset in text
    bool enabled = true;
    bool checked = false;
    std::vector<std::string> items;                        // combo box
    std::vector<std::array<std::string, kColumns>> rows;   // list view
    int scroll = 0;
};

struct Dialog {
    std::string text, title;
    bool done = false;
};

bool Focusable(uint32_t type) {
    return type == form::kEditBox || type == form::kComboBox || type == form::kButton || type == form::kCheckBox ||
           type == form::kListView || type == form::kPicture;
}

std::string EncodeUtf8(wchar_t wc) {
    char buf[MB_LEN_MAX];
    std::mbstate_t state{};
    size_t n = std::wcrtomb(buf, wc, &state);
    return n == size_t(-1) ? std::string() : std::string(buf, n);
}

// Byte length of the UTF-8 character that starts at / ends before a position.
size_t NextChar(const std::string &s, size_t at) {
    size_t n = at + 1;
    while (n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) ++n;
    return n - at;
}
size_t PrevChar(const std::string &s, size_t at) {
    size_t n = at;
    while (n > 0 && (static_cast<unsigned char>(s[n - 1]) & 0xC0) == 0x80) --n;
    return n > 0 ? at - (n - 1) : 0;
}

class TuiWindow final : public TuiFrontEnd {
  public:
    TuiWindow(TuiFrontEndOptions options, form::Form form) : options_(std::move(options)), form_(std::move(form)) {
        // The form's own texts are GBK and never change: converted once here, they are shown as they are.
        form_.window.caption = GbkToUtf8(form_.window.caption);
        for (form::Control &c : form_.controls) {
            c.caption = GbkToUtf8(c.caption);
            for (form::Column &column : c.columns) column.caption = GbkToUtf8(column.caption);
        }
        for (form::MenuItem &m : form_.menu) m.caption = GbkToUtf8(m.caption);
        for (const form::Control &c : form_.controls) {
            state_[c.id].def = &c;
            if (Focusable(c.type)) focusOrder_.push_back(c.id);
        }
        // The form stores its controls last-created first; a person tabs top to bottom, left to right.
        std::sort(focusOrder_.begin(), focusOrder_.end(), [this](uint32_t a, uint32_t b) {
            auto key = [this](uint32_t id) {
                const form::Control *c = form_.Find(id);
                const form::Control *p = c->parent ? form_.Find(c->parent) : nullptr;
                return std::make_pair((p ? p->top : 0) + c->top, (p ? p->left : 0) + c->left);
            };
            return key(a) < key(b);
        });
        for (const form::MenuItem &m : form_.menu)
            if (m.level == 1) menuItems_.push_back(&m);
        ui_ = std::this_thread::get_id();
    }

    bool Start(std::string &error) {
        std::setlocale(LC_ALL, "");
        if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
        in_ = ::fdopen(::dup(options_.inputFd), "r");
        out_ = ::fdopen(::dup(options_.outputFd), "w");
        if (in_ && out_) screen_ = newterm(nullptr, out_, in_);
        if (!screen_) {
            error = "the terminal cannot be used";
            return false;
        }
        set_term(screen_);
        raw(); // Ctrl-C arrives as a key and ends the program through its own path
        noecho();
        keypad(stdscr, TRUE);
        set_escdelay(25);
        mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
        Relayout();
        return true;
    }

    ~TuiWindow() override { Shutdown(); }

    void Shutdown() override {
        if (!screen_) return;
        endwin();
        delscreen(screen_);
        screen_ = nullptr;
        if (in_) std::fclose(in_);
        if (out_) std::fclose(out_);
        in_ = out_ = nullptr;
    }

    // ---- Services ----------------------------------------------------------------------------

    void SetMessagePresenter(MessagePresenter p) override { presenter_ = std::move(p); }
    void SetUrlOpener(std::function<void(const std::string &)> o) override { opener_ = std::move(o); }

    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view> title) override {
        std::string t = GbkToUtf8(text);
        std::string caption = title ? GbkToUtf8(*title) : form_.window.caption;
        if (presenter_) {
            presenter_(t, caption);
            return;
        }
        auto dialog = std::make_shared<Dialog>(Dialog{t, caption});
        {
            std::lock_guard lock(mutex_);
            dialogs_.push_back(dialog);
            dirty_ = true;
        }
        if (OnUiThread()) {
            while (!DialogDone(*dialog) && !quit_) RunOnce(kPollMs); // modal: events go on meanwhile
        } else {
            std::unique_lock lock(mutex_);
            closed_.wait(lock, [&] { return dialog->done || quit_; });
        }
    }

    void ProcessEvents() override {
        if (OnUiThread() && screen_) RunOnce(0);
    }
    void Pump() override {
        if (screen_) RunOnce(0);
    }

    int32_t ListRowCount(uint32_t unit) override {
        std::lock_guard lock(mutex_);
        ControlState *c = Find(unit, form::kListView);
        return c ? int32_t(c->rows.size()) : 0;
    }
    std::string ListCellText(uint32_t unit, int32_t row, int32_t column) override {
        std::lock_guard lock(mutex_);
        ControlState *c = Find(unit, form::kListView);
        if (!c || row < 0 || size_t(row) >= c->rows.size() || column < 0 || column >= kColumns) return {};
        return c->rows[size_t(row)][size_t(column)];
    }

    uint64_t GetProperty(uint32_t, uint32_t unit, int32_t property, int32_t) override {
        std::lock_guard lock(mutex_);
        ControlState *c = Find(unit);
        if (property == RtPropertyDisabled) return c && !c->enabled ? 1 : 0;
        std::string text = c && (property == RtPropertyEditText || property == RtPropertyComboText) ? c->text : "";
        return ResultOfText(Utf8ToGbk(text)).value;
    }

    void SetProperty(uint32_t, uint32_t unit, int32_t property, int32_t, uint64_t value) override {
        std::lock_guard lock(mutex_);
        ControlState *c = Find(unit);
        if (!c) return;
        if (property == RtPropertyDisabled) {
            c->enabled = value == 0;
        } else if (property == RtPropertyEditText || property == RtPropertyComboText) {
            const char *p = reinterpret_cast<const char *>(static_cast<uintptr_t>(value));
            c->text = GbkToUtf8(p ? p : "");
            c->cursor = c->text.size();
        }
        dirty_ = true;
    }

    void ShowWindow(uint32_t window) override {
        if (window != form_.windowId || shown_) return;
        shown_ = true;
        if (auto h = form_.Handler(form_.window.id, 0)) Call(*h);
        dirty_ = true;
        if (screen_) Draw();
    }

    void RunEvents() override {
        while (!quit_ && screen_) RunOnce(kPollMs);
    }

    void RequestQuit() override {
        quit_ = true;
        closed_.notify_all();
    }

    int32_t ListAppendRow(uint32_t, uint32_t unit) override {
        std::lock_guard lock(mutex_);
        ControlState *c = Find(unit, form::kListView);
        if (!c) return -1;
        c->rows.emplace_back();
        // Follow the newest row, as a list view scrolls to what the trace appends.
        c->scroll = std::max(0, int(c->rows.size()) - VisibleRows(*c));
        dirty_ = true;
        return int32_t(c->rows.size() - 1);
    }
    void ListClear(uint32_t, uint32_t unit) override {
        std::lock_guard lock(mutex_);
        if (ControlState *c = Find(unit, form::kListView)) {
            c->rows.clear();
            c->scroll = 0;
        }
        dirty_ = true;
    }
    bool ListSetCell(uint32_t, uint32_t unit, int32_t row, int32_t column, std::string_view text) override {
        std::lock_guard lock(mutex_);
        ControlState *c = Find(unit, form::kListView);
        if (!c || row < 0 || size_t(row) >= c->rows.size() || column < 0 || column >= kColumns) return false;
        c->rows[size_t(row)][size_t(column)] = GbkToUtf8(text);
        dirty_ = true;
        return true;
    }
    int32_t ComboCount(uint32_t, uint32_t unit) override {
        std::lock_guard lock(mutex_);
        ControlState *c = Find(unit, form::kComboBox);
        return c ? int32_t(c->items.size()) : 0;
    }
    std::optional<std::string> ComboItem(uint32_t, uint32_t unit, int32_t index) override {
        std::lock_guard lock(mutex_);
        ControlState *c = Find(unit, form::kComboBox);
        if (!c || index < 0 || size_t(index) >= c->items.size()) return std::nullopt;
        return Utf8ToGbk(c->items[size_t(index)]);
    }
    void ComboAppend(uint32_t, uint32_t unit, std::string_view text) override {
        std::lock_guard lock(mutex_);
        if (ControlState *c = Find(unit, form::kComboBox)) c->items.push_back(GbkToUtf8(text));
        dirty_ = true;
    }
    void ComboClear(uint32_t, uint32_t unit) override {
        std::lock_guard lock(mutex_);
        if (ControlState *c = Find(unit, form::kComboBox)) c->items.clear(); // the edit field keeps its text
        dirty_ = true;
    }
    void OpenUrl(std::string_view url) override {
        std::string u = GbkToUtf8(url);
        if (opener_) {
            opener_(u);
            return;
        }
        // A terminal has no browser to hand the address to: it is shown for the user to open.
        ShowMessage(Utf8ToGbk(u), 0, std::nullopt);
    }

  private:
    bool OnUiThread() const { return std::this_thread::get_id() == ui_; }

    ControlState *Find(uint32_t unit, uint32_t type = 0) {
        auto it = state_.find(unit);
        if (it == state_.end() || (type && it->second.def->type != type)) return nullptr;
        return &it->second;
    }

    bool DialogDone(const Dialog &d) {
        std::lock_guard lock(mutex_);
        return d.done;
    }

    int VisibleRows(const ControlState &c) const {
        auto it = layout_.cells.find(c.def->id);
        return it == layout_.cells.end() ? 1 : std::max(1, it->second.height - 1);
    }

    void Call(uint32_t handler, int32_t button = 0, int32_t x = 0, int32_t y = 0) {
        void *routine = options_.routineAt(handler);
        if (!routine) return;
        if (button) reinterpret_cast<void (*)(int32_t, int32_t, int32_t)>(routine)(button, x, y);
        else reinterpret_cast<void (*)()>(routine)();
    }

    void Relayout() {
        int rows, cols;
        getmaxyx(stdscr, rows, cols);
        std::map<uint32_t, int> captions;
        for (const form::Control &c : form_.controls) {
            std::string caption = c.caption;
            int decoration = c.type == form::kButton ? 2 : c.type == form::kCheckBox ? 4 : 0;
            if (c.type == form::kPicture) caption = "(Toviq)";
            captions[c.id] = tui::DisplayWidth(caption) + decoration;
        }
        std::lock_guard lock(mutex_);
        layout_ = tui::ComputeLayout(form_, cols, rows, captions);
        dirty_ = true;
    }

    // Runs one round: draws what changed, then waits at most timeoutMs for a key and handles it.
    void RunOnce(int timeoutMs) {
        if (dirty_) Draw();
        wtimeout(stdscr, timeoutMs);
        wint_t ch;
        int r = wget_wch(stdscr, &ch);
        if (r == ERR) return;
        HandleKey(r == KEY_CODE_YES, int(ch));
        Draw();
    }

    // ---- Input ---------------------------------------------------------------------------------

    void HandleKey(bool code, int ch) {
        if (code && ch == KEY_RESIZE) {
            Relayout();
            return;
        }
        if (!code && ch == kKeyCtrlC) {
            RequestQuit();
            return;
        }
        std::shared_ptr<Dialog> dialog;
        {
            std::lock_guard lock(mutex_);
            if (!dialogs_.empty()) dialog = dialogs_.front();
        }
        if (dialog) {
            if ((!code && (ch == '\n' || ch == '\r' || ch == ' ' || ch == kKeyEscape)) || (code && ch == KEY_ENTER) ||
                (code && ch == KEY_MOUSE)) {
                std::lock_guard lock(mutex_);
                dialog->done = true;
                dialogs_.pop_front();
                dirty_ = true;
                closed_.notify_all();
            }
            return;
        }
        if (code && ch == KEY_MOUSE) {
            MEVENT e;
            if (getmouse(&e) == OK) Click(e.y, e.x);
            return;
        }
        if (menuOpen_) {
            MenuKey(code, ch);
            return;
        }
        if (dropDown_) {
            DropDownKey(code, ch);
            return;
        }
        if (code && ch == KEY_F(10)) {
            OpenMenu();
            return;
        }
        if (!code && ch == kKeyEscape) { // Alt: the menu; Alt-Down: the focused combo box's list
            wtimeout(stdscr, 30);
            wint_t next;
            int r = wget_wch(stdscr, &next);
            if (r == KEY_CODE_YES && next == KEY_DOWN) OpenDropDown();
            else if (r == ERR) OpenMenu();
            return;
        }
        if (!code && ch == kKeyTab) return MoveFocus(1);
        if (code && ch == KEY_BTAB) return MoveFocus(-1);
        uint32_t id = focusOrder_.empty() ? 0 : focusOrder_[size_t(focus_)];
        ControlState *c;
        {
            std::lock_guard lock(mutex_);
            c = Find(id);
        }
        if (!c) return;
        bool activate = (!code && (ch == '\n' || ch == '\r' || ch == ' ')) || (code && ch == KEY_ENTER);
        switch (c->def->type) {
        case form::kEditBox:
        case form::kComboBox: EditKey(*c, code, ch); break;
        case form::kButton:
            if (activate) Press(*c);
            break;
        case form::kCheckBox:
            if (activate) {
                std::lock_guard lock(mutex_);
                c->checked = !c->checked;
            }
            break;
        case form::kPicture:
            if (activate) Press(*c);
            break;
        case form::kListView: ListKey(*c, code, ch); break;
        }
    }

    void Press(ControlState &c) {
        {
            std::lock_guard lock(mutex_); // the trace thread enables the start button
            if (!c.enabled) return;       // a disabled button cannot be pressed
        }
        if (c.def->type == form::kPicture) {
            if (auto h = form_.Handler(c.def->id, -1)) Call(*h, 1, 0, 0);
        } else if (auto h = form_.Handler(c.def->id, 0)) {
            Call(*h);
        }
    }

    void MoveFocus(int step) {
        if (focusOrder_.empty()) return;
        int n = int(focusOrder_.size());
        focus_ = ((focus_ + step) % n + n) % n;
        dirty_ = true;
    }

    void EditKey(ControlState &c, bool code, int ch) {
        std::lock_guard lock(mutex_);
        if (code) {
            switch (ch) {
            case KEY_LEFT: c.cursor -= PrevChar(c.text, c.cursor); break;
            case KEY_RIGHT:
                if (c.cursor < c.text.size()) c.cursor += NextChar(c.text, c.cursor);
                break;
            case KEY_HOME: c.cursor = 0; break;
            case KEY_END: c.cursor = c.text.size(); break;
            case KEY_BACKSPACE: {
                size_t n = PrevChar(c.text, c.cursor);
                c.text.erase(c.cursor - n, n);
                c.cursor -= n;
                break;
            }
            case KEY_DC:
                if (c.cursor < c.text.size()) c.text.erase(c.cursor, NextChar(c.text, c.cursor));
                break;
            case KEY_DOWN:
                if (c.def->type == form::kComboBox) dropDownPending_ = true;
                break;
            }
        } else if (ch == kKeyBackspace || ch == kKeyCtrlH) {
            size_t n = PrevChar(c.text, c.cursor);
            c.text.erase(c.cursor - n, n);
            c.cursor -= n;
        } else if (ch >= 32) {
            std::string bytes = EncodeUtf8(wchar_t(ch));
            c.text.insert(c.cursor, bytes);
            c.cursor += bytes.size();
        }
        dirty_ = true;
        if (dropDownPending_) {
            dropDownPending_ = false;
            OpenDropDownLocked(c);
        }
    }

    void ListKey(ControlState &c, bool code, int ch) {
        if (!code) return;
        std::lock_guard lock(mutex_);
        int page = VisibleRows(c), last = std::max(0, int(c.rows.size()) - page);
        switch (ch) {
        case KEY_UP: c.scroll = std::max(0, c.scroll - 1); break;
        case KEY_DOWN: c.scroll = std::min(last, c.scroll + 1); break;
        case KEY_PPAGE: c.scroll = std::max(0, c.scroll - page); break;
        case KEY_NPAGE: c.scroll = std::min(last, c.scroll + page); break;
        case KEY_HOME: c.scroll = 0; break;
        case KEY_END: c.scroll = last; break;
        }
        dirty_ = true;
    }

    void OpenMenu() {
        if (menuItems_.empty()) return;
        menuOpen_ = true;
        menuIndex_ = 0;
        dirty_ = true;
    }

    void MenuKey(bool code, int ch) {
        int n = int(menuItems_.size());
        auto separator = [&](int i) { return menuItems_[size_t(i)]->caption == "-"; };
        if (code && (ch == KEY_DOWN || ch == KEY_UP)) {
            int step = ch == KEY_DOWN ? 1 : -1;
            do menuIndex_ = ((menuIndex_ + step) % n + n) % n;
            while (separator(menuIndex_));
        } else if ((!code && (ch == '\n' || ch == '\r')) || (code && ch == KEY_ENTER)) {
            menuOpen_ = false;
            SelectMenuItem(menuIndex_);
        } else if ((!code && ch == kKeyEscape) || (code && ch == KEY_F(10))) {
            menuOpen_ = false;
        }
        dirty_ = true;
    }

    void SelectMenuItem(int index) {
        const form::MenuItem *m = menuItems_[size_t(index)];
        if (m->handler >= 0) Call(uint32_t(m->handler));
    }

    void OpenDropDown() {
        uint32_t id = focusOrder_.empty() ? 0 : focusOrder_[size_t(focus_)];
        std::lock_guard lock(mutex_);
        if (ControlState *c = Find(id, form::kComboBox)) OpenDropDownLocked(*c);
    }
    void OpenDropDownLocked(ControlState &c) {
        if (c.items.empty()) return;
        dropDown_ = c.def->id;
        dropIndex_ = 0;
        dirty_ = true;
    }

    void DropDownKey(bool code, int ch) {
        std::lock_guard lock(mutex_);
        ControlState *c = Find(dropDown_, form::kComboBox);
        if (!c || c->items.empty()) {
            dropDown_ = 0;
            return;
        }
        int n = int(c->items.size());
        if (code && ch == KEY_DOWN) dropIndex_ = std::min(n - 1, dropIndex_ + 1);
        else if (code && ch == KEY_UP) dropIndex_ = std::max(0, dropIndex_ - 1);
        else if ((!code && (ch == '\n' || ch == '\r')) || (code && ch == KEY_ENTER)) {
            c->text = c->items[size_t(dropIndex_)]; // choosing an item puts its text into the edit field
            c->cursor = c->text.size();
            dropDown_ = 0;
        } else if (!code && ch == kKeyEscape) {
            dropDown_ = 0;
        }
        dirty_ = true;
    }

    void Click(int row, int col) {
        if (row == 0) {
            if (menuOpen_) menuOpen_ = false;
            else OpenMenu();
            dirty_ = true;
            return;
        }
        if (menuOpen_) {
            int index = row - 2; // the menu's items start below its top border
            menuOpen_ = false;
            if (index >= 0 && index < int(menuItems_.size()) && menuItems_[size_t(index)]->caption != "-")
                SelectMenuItem(index);
            dirty_ = true;
            return;
        }
        for (size_t i = 0; i < focusOrder_.size(); ++i) {
            auto cell = layout_.cells.find(focusOrder_[i]);
            if (cell == layout_.cells.end() || !cell->second.contains(row, col)) continue;
            focus_ = int(i);
            ControlState *c;
            {
                std::lock_guard lock(mutex_);
                c = Find(focusOrder_[i]);
            }
            if (c->def->type == form::kButton || c->def->type == form::kPicture) Press(*c);
            else if (c->def->type == form::kCheckBox) {
                std::lock_guard lock(mutex_);
                c->checked = !c->checked;
            } else if (c->def->type == form::kComboBox && col == cell->second.col + cell->second.width - 1) {
                OpenDropDown();
            }
            dirty_ = true;
            return;
        }
    }

    // ---- Drawing -------------------------------------------------------------------------------

    void Put(int row, int col, int width, std::string_view utf8, attr_t attr = A_NORMAL) {
        if (width <= 0) return;
        std::string_view shown = tui::ClipToWidth(utf8, width);
        attron(attr);
        mvaddnstr(row, col, shown.data(), int(shown.size()));
        attroff(attr);
    }

    // Frames use the wide-character line drawing, which ncursesw writes as UTF-8 box characters.
    void Frame(const tui::Cell &c, std::string_view title) {
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

    void Draw() {
        std::lock_guard lock(mutex_);
        dirty_ = false;
        erase();
        int rows, cols;
        getmaxyx(stdscr, rows, cols);
        int cursorRow = -1, cursorCol = -1;
        if (!layout_.fits) {
            std::string message = "终端太小 / terminal too small: " + std::to_string(tui::kMinColumns) + " x " +
                                  std::to_string(tui::kMinRows) + " at least";
            Put(rows / 2, std::max(0, (cols - tui::DisplayWidth(message)) / 2), cols, message);
            curs_set(0);
            refresh();
            return;
        }
        // The menu bar, with the window's caption at its right.
        mvhline(0, 0, ' ' | A_REVERSE, cols);
        std::string entry = form_.menu.empty() ? "" : " " + form_.menu[0].caption + " ";
        Put(0, 1, cols - 1, entry, menuOpen_ ? A_NORMAL : A_REVERSE);
        const std::string &caption = form_.window.caption;
        int captionWidth = tui::DisplayWidth(caption);
        if (captionWidth + 12 < cols) Put(0, cols - captionWidth - 1, captionWidth, caption, A_REVERSE);

        uint32_t focused = focusOrder_.empty() ? 0 : focusOrder_[size_t(focus_)];
        for (int pass = 0; pass < 2; ++pass) { // group boxes first, their contents over them
            for (const form::Control &def : form_.controls) {
                if ((def.type == form::kGroupBox) != (pass == 0)) continue;
                const tui::Cell &cell = layout_.cells.at(def.id);
                const ControlState &c = state_.at(def.id);
                bool focus = def.id == focused;
                const std::string &captionText = def.caption;
                attr_t disabled = c.enabled ? A_NORMAL : A_DIM;
                switch (def.type) {
                case form::kGroupBox: Frame(cell, captionText); break;
                case form::kLabel: Put(cell.row, cell.col, cell.width, captionText, disabled); break;
                case form::kEditBox:
                case form::kComboBox: {
                    int field = def.type == form::kComboBox ? cell.width - 1 : cell.width;
                    mvhline(cell.row, cell.col, ' ' | A_UNDERLINE, field);
                    // Scroll so that the cursor stays in the field.
                    std::string_view before(c.text.data(), c.cursor);
                    int start = 0;
                    while (tui::DisplayWidth(before.substr(size_t(start))) >= field) start += int(NextChar(c.text, size_t(start)));
                    Put(cell.row, cell.col, field, std::string_view(c.text).substr(size_t(start)), A_UNDERLINE | disabled);
                    if (def.type == form::kComboBox) Put(cell.row, cell.col + field, 1, "▾", A_REVERSE);
                    if (focus) {
                        cursorRow = cell.row;
                        cursorCol = cell.col + tui::DisplayWidth(before.substr(size_t(start)));
                    }
                    break;
                }
                case form::kButton: {
                    std::string shown = "[" + captionText + "]";
                    int pad = std::max(0, (cell.width - tui::DisplayWidth(shown)) / 2);
                    Put(cell.row, cell.col + pad, cell.width - pad, shown,
                        (focus ? A_REVERSE : A_BOLD) | (c.enabled ? A_NORMAL : A_DIM));
                    break;
                }
                case form::kCheckBox:
                    Put(cell.row, cell.col, cell.width, std::string(c.checked ? "[x] " : "[ ] ") + captionText,
                        focus ? A_REVERSE : A_NORMAL);
                    break;
                case form::kPicture: Put(cell.row, cell.col, cell.width, "(Toviq)", (focus ? A_REVERSE : A_NORMAL) | A_UNDERLINE); break;
                case form::kListView: DrawList(def, cell, c, focus); break;
                }
            }
        }
        if (dropDown_) DrawDropDown();
        if (menuOpen_) DrawMenu();
        if (!dialogs_.empty()) DrawDialog(*dialogs_.front(), rows, cols);
        bool showCursor = cursorRow >= 0 && !menuOpen_ && !dropDown_ && dialogs_.empty();
        curs_set(showCursor ? 1 : 0);
        if (showCursor) move(cursorRow, cursorCol);
        refresh();
    }

    void DrawList(const form::Control &def, const tui::Cell &cell, const ControlState &c, bool focus) {
        // Column widths in proportion to the form's, over the list's width.
        uint32_t total = 0;
        for (const form::Column &col : def.columns) total += col.width;
        std::vector<int> starts, widths;
        int at = cell.col;
        for (size_t i = 0; i < def.columns.size() && i < kColumns; ++i) {
            int w = total ? int(double(def.columns[i].width) * cell.width / total) : cell.width / kColumns;
            starts.push_back(at);
            widths.push_back(std::max(1, w - 1));
            at += w;
        }
        mvhline(cell.row, cell.col, ' ' | A_REVERSE, cell.width);
        for (size_t i = 0; i < starts.size(); ++i)
            Put(cell.row, starts[i], widths[i], def.columns[i].caption, A_REVERSE | (focus ? A_BOLD : A_NORMAL));
        int visible = cell.height - 1;
        for (int r = 0; r < visible && size_t(c.scroll + r) < c.rows.size(); ++r) {
            const auto &row = c.rows[size_t(c.scroll + r)];
            for (size_t i = 0; i < starts.size(); ++i) Put(cell.row + 1 + r, starts[i], widths[i], row[i]);
        }
        if (int(c.rows.size()) > visible) { // where the view is in the list
            std::string where = std::to_string(c.scroll + 1) + "-" +
                                std::to_string(std::min(int(c.rows.size()), c.scroll + visible)) + "/" +
                                std::to_string(c.rows.size());
            Put(cell.row, cell.col + cell.width - int(where.size()), int(where.size()), where, A_REVERSE);
        }
    }

    void DrawDropDown() {
        const ControlState &c = state_.at(dropDown_);
        const tui::Cell &cell = layout_.cells.at(dropDown_);
        int n = std::min(int(c.items.size()), kDropDownRows);
        int first = std::max(0, dropIndex_ - n + 1);
        for (int i = 0; i < n; ++i) {
            int index = first + i;
            mvhline(cell.row + 1 + i, cell.col, ' ' | A_REVERSE, cell.width);
            Put(cell.row + 1 + i, cell.col, cell.width, c.items[size_t(index)], index == dropIndex_ ? A_NORMAL : A_REVERSE);
        }
    }

    void DrawMenu() {
        int width = 4;
        for (const form::MenuItem *m : menuItems_) width = std::max(width, tui::DisplayWidth(m->caption) + 4);
        tui::Cell box{1, 1, width, int(menuItems_.size()) + 2};
        for (int r = 0; r < box.height; ++r) mvhline(box.row + r, box.col, ' ', box.width);
        Frame(box, "");
        for (size_t i = 0; i < menuItems_.size(); ++i) {
            const std::string &caption = menuItems_[i]->caption;
            if (caption == "-") mvhline_set(box.row + 1 + int(i), box.col + 1, WACS_HLINE, box.width - 2);
            else Put(box.row + 1 + int(i), box.col + 2, box.width - 3, caption, int(i) == menuIndex_ ? A_REVERSE : A_NORMAL);
        }
    }

    void DrawDialog(const Dialog &d, int rows, int cols) {
        int width = std::min(cols - 2, std::max({tui::DisplayWidth(d.text), tui::DisplayWidth(d.title) + 4, 10}) + 6);
        tui::Cell box{rows / 2 - 3, (cols - width) / 2, width, 6};
        for (int r = 0; r < box.height; ++r) mvhline(box.row + r, box.col, ' ', box.width);
        Frame(box, tui::ClipToWidth(d.title, width - 6));
        Put(box.row + 2, box.col + 3, width - 6, d.text);
        Put(box.row + 4, box.col + (width - 6) / 2, 6, "[ OK ]", A_REVERSE);
    }

    TuiFrontEndOptions options_;
    form::Form form_;
    std::thread::id ui_;
    SCREEN *screen_ = nullptr;
    FILE *in_ = nullptr, *out_ = nullptr;

    std::mutex mutex_; // guards the controls' state and the dialogs: any thread may change them
    std::condition_variable closed_;
    std::map<uint32_t, ControlState> state_;
    std::deque<std::shared_ptr<Dialog>> dialogs_;
    std::atomic<bool> dirty_{true};
    std::atomic<bool> quit_{false};

    // Only the window's thread touches these.
    tui::Layout layout_;
    std::vector<uint32_t> focusOrder_;
    std::vector<const form::MenuItem *> menuItems_;
    int focus_ = 0;
    bool menuOpen_ = false;
    int menuIndex_ = 0;
    uint32_t dropDown_ = 0;
    int dropIndex_ = 0;
    bool dropDownPending_ = false;
    bool shown_ = false;
    MessagePresenter presenter_;
    std::function<void(const std::string &)> opener_;
};

} // namespace

TuiFrontEnd::~TuiFrontEnd() = default;

std::unique_ptr<TuiFrontEnd> TuiFrontEnd::Create(TuiFrontEndOptions options, std::string &error) {
    auto decoded = form::DecodeWindowForm(options.form, options.codeSize, error);
    if (!decoded) return nullptr;
    auto window = std::make_unique<TuiWindow>(std::move(options), std::move(*decoded));
    if (!window->Start(error)) return nullptr;
    return window;
}

} // namespace rt
