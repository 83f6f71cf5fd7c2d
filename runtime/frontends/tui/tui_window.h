// The terminal window's state and its parts: services and the event loop (tui_window.cpp), keys and
// clicks (tui_input.cpp), drawing (tui_draw.cpp). The controls' state is the model's; what only the
// terminal has (cursor, scroll position, check mark, focus, open menus and dialogs) lives here.
#pragma once

#include <curses.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "formats/form/form.h"
#include "layout.h"
#include "tui_frontend.h"

namespace rt::tui {

inline constexpr int kPollMs = 50;
inline constexpr int kDropDownRows = 8;
inline constexpr int kKeyEscape = 27, kKeyTab = 9, kKeyCtrlC = 3, kKeyBackspace = 127, kKeyCtrlH = 8;

// What the terminal keeps of a control besides the model's state.
struct View {
    const form::Control *def = nullptr;
    size_t cursor = 0; // edit field: byte offset in the UTF-8 rendering of the text
    bool checked = false;
    int scroll = 0;   // list view: the first row shown
    int seenRows = 0; // list view: rows at the last drawing, to follow new ones
};

struct Dialog {
    std::string text, title; // UTF-8
    bool done = false;
};

// Byte length of the UTF-8 character that starts at / ends before a position.
size_t NextChar(const std::string &s, size_t at);
size_t PrevChar(const std::string &s, size_t at);

class TuiWindow final : public TuiFrontEnd {
  public:
    TuiWindow(FrontEndOptions options, form::Form form);
    ~TuiWindow() override { Shutdown(); }
    bool Start();

    // ---- Services (tui_window.cpp) ----
    void Shutdown() override;
    void ShowMessage(std::string_view text, int32_t style, std::optional<std::string_view> title) override;
    void ProcessEvents() override;
    void ShowWindow(uint32_t window) override;
    void RunEvents() override;
    void RequestQuit() override;
    void OpenUrl(std::string_view url) override;

  private:
    bool OnUiThread() const { return std::this_thread::get_id() == ui_; }
    void ControlChanged(uint32_t unit, ControlModel::Change change) override;
    void Relayout();
    void RunOnce(int timeoutMs);
    bool DialogDone(const Dialog &d);
    View *Focused();
    int VisibleRows(const View &v) const;

    // ---- Keys and clicks (tui_input.cpp) ----
    void HandleKey(bool code, int ch);
    bool DialogKey(bool code, int ch);
    void Press(View &v);
    void Toggle(View &v) { v.checked = !v.checked; }
    void MoveFocus(int step);
    void EditKey(View &v, bool code, int ch);
    void ListKey(View &v, bool code, int ch);
    void OpenMenu();
    void MenuKey(bool code, int ch);
    void SelectMenuItem(int index);
    void OpenDropDown(View &v);
    void DropDownKey(bool code, int ch);
    void Click(int row, int col);

    // ---- Drawing (tui_draw.cpp) ----
    void Draw();
    void DrawControl(const form::Control &def, const View &v, bool focus, int &cursorRow, int &cursorCol);
    void DrawList(const form::Control &def, const Cell &cell, const View &v, const ControlModel::Control &state,
                  bool focus);
    void DrawDropDown();
    void DrawMenu();
    void DrawDialog(const Dialog &d, int rows, int cols);

    FrontEndOptions options_; // the terminal and the picture's label
    // form_'s texts are converted to UTF-8 once: they never change.
    std::thread::id ui_;
    SCREEN *screen_ = nullptr;
    FILE *in_ = nullptr, *out_ = nullptr;

    std::mutex mutex_; // guards the dialogs and the units whose cursor goes to the end
    std::condition_variable closed_;
    std::deque<std::shared_ptr<Dialog>> dialogs_;
    std::set<uint32_t> cursorToEnd_; // texts the program set: the cursor follows them to their end
    std::atomic<bool> dirty_{true};
    std::atomic<bool> quit_{false};

    // Only the window's thread touches these.
    std::map<uint32_t, View> views_;
    Layout layout_;
    std::vector<uint32_t> focusOrder_;
    std::vector<const form::MenuItem *> menuItems_;
    int focus_ = 0;
    bool menuOpen_ = false;
    int menuIndex_ = 0;
    uint32_t dropDown_ = 0;
    int dropIndex_ = 0;
    bool editing_ = false; // the user's own edit is being written to the model
    bool shown_ = false;
};

} // namespace rt::tui
