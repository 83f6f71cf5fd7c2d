#include "tui_window.h"

#include <langinfo.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstring>

#include "runtime/core/files.h"

namespace rt::tui {

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

namespace {
bool Focusable(uint32_t type) {
    return type == form::kEditBox || type == form::kComboBox || type == form::kButton || type == form::kCheckBox ||
           type == form::kListView || type == form::kPicture;
}
} // namespace

TuiWindow::TuiWindow(FrontEndOptions options, form::Form form)
    : TuiFrontEnd(std::move(form), options.routineAt), options_(std::move(options)) {
    // The form's own texts are GBK and never change: converted once here, they are shown as they are.
    form_.window.caption = GbkToUtf8(form_.window.caption);
    for (form::Control &c : form_.controls) {
        c.caption = GbkToUtf8(c.caption);
        for (form::Column &column : c.columns) column.caption = GbkToUtf8(column.caption);
    }
    for (form::MenuItem &m : form_.menu) m.caption = GbkToUtf8(m.caption);
    for (const form::Control &c : form_.controls) {
        views_[c.id].def = &c;
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

bool TuiWindow::Start() {
    std::setlocale(LC_ALL, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
    in_ = ::fdopen(::dup(options_.inputFd), "r");
    out_ = ::fdopen(::dup(options_.outputFd), "w");
    if (in_ && out_) screen_ = newterm(nullptr, out_, in_);
    if (!screen_) return false;
    HoldNotices(true); // a line on the terminal would lie across the window until it is redrawn
    set_term(screen_);
    raw(); // Ctrl-C arrives as a key and ends the program through its own path
    noecho();
    keypad(stdscr, TRUE);
    set_escdelay(25);
    mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
    Relayout();
    return true;
}

void TuiWindow::Shutdown() {
    if (!screen_) return;
    endwin();
    delscreen(screen_);
    screen_ = nullptr;
    HoldNotices(false);
    if (in_) std::fclose(in_);
    if (out_) std::fclose(out_);
    in_ = out_ = nullptr;
}

void TuiWindow::ControlChanged(uint32_t unit, ControlModel::Change change) {
    // A text the program set puts the cursor at its end, as an edit box does; the user's own edits
    // place the cursor themselves.
    if (change == ControlModel::Change::Text && !(editing_ && OnUiThread())) {
        std::lock_guard lock(mutex_);
        cursorToEnd_.insert(unit);
    }
    dirty_ = true;
}

void TuiWindow::ShowMessage(std::string_view text, int32_t, std::optional<std::string_view> title) {
    std::string t = GbkToUtf8(text);
    std::string caption = title ? GbkToUtf8(*title) : form_.window.caption;
    if (presenter_) return presenter_(t, caption);
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

void TuiWindow::ProcessEvents() {
    if (OnUiThread() && screen_) RunOnce(0);
}

void TuiWindow::ShowWindow(uint32_t window) {
    if (window != form_.windowId || shown_) return;
    shown_ = true;
    Call(form_.Handler(form_.window.id, form::kEventCreated));
    dirty_ = true;
    if (screen_) Draw();
}

void TuiWindow::RunEvents() {
    while (!quit_ && screen_) RunOnce(kPollMs);
}

void TuiWindow::RequestQuit() {
    quit_ = true;
    closed_.notify_all();
}

void TuiWindow::OpenUrl(std::string_view url) {
    std::string u = GbkToUtf8(url);
    if (opener_) return opener_(u);
    // A terminal has no browser to hand the address to: it is shown for the user to open.
    ShowMessage(Utf8ToGbk(u), 0, std::nullopt);
}

bool TuiWindow::DialogDone(const Dialog &d) {
    std::lock_guard lock(mutex_);
    return d.done;
}

View *TuiWindow::Focused() {
    if (focusOrder_.empty()) return nullptr;
    auto it = views_.find(focusOrder_[size_t(focus_)]);
    return it == views_.end() ? nullptr : &it->second;
}

int TuiWindow::VisibleRows(const View &v) const {
    auto it = layout_.cells.find(v.def->id);
    return it == layout_.cells.end() ? 1 : std::max(1, it->second.height - 1);
}

void TuiWindow::Relayout() {
    int rows, cols;
    getmaxyx(stdscr, rows, cols);
    std::map<uint32_t, int> captions;
    for (const form::Control &c : form_.controls) {
        const std::string &caption = c.type == form::kPicture ? options_.pictureLabel : c.caption;
        int decoration = c.type == form::kButton ? 2 : c.type == form::kCheckBox ? 4 : 0;
        captions[c.id] = DisplayWidth(caption) + decoration;
    }
    layout_ = ComputeLayout(form_, cols, rows, captions);
    dirty_ = true;
}

// Runs one round: draws what changed, then waits at most timeoutMs for a key and handles it.
void TuiWindow::RunOnce(int timeoutMs) {
    if (dirty_) Draw();
    wtimeout(stdscr, timeoutMs);
    wint_t ch;
    int r = wget_wch(stdscr, &ch);
    if (r == ERR) return;
    HandleKey(r == KEY_CODE_YES, int(ch));
    Draw();
}

} // namespace rt::tui

namespace rt {

TuiFrontEnd::~TuiFrontEnd() = default;

FrontEndResult<TuiFrontEnd> TuiFrontEnd::Create(FrontEndOptions options) {
    auto window = MakeFormFrontEnd<tui::TuiWindow, tui::TuiWindow>(std::move(options));
    if (!window) return window.error();
    if (!(*window)->Start()) return FrontEndFailure{FrontEndError::NoTerminal, {}};
    return std::unique_ptr<TuiFrontEnd>(std::move(*window));
}

} // namespace rt
