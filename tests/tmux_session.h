// A program in a terminal of tmux's, typed at with send-keys and read with capture-pane.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "shell.h"

namespace rt::testing {

// Waits until the condition holds; false when it does not within that time.
inline bool Until(const std::function<bool()> &condition, std::chrono::milliseconds within) {
    auto end = std::chrono::steady_clock::now() + within;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class TmuxSession {
  public:
    explicit TmuxSession(std::string name) : name_(std::move(name)) {}
    ~TmuxSession() {
        if (started_) Shell("tmux kill-session -t " + name_);
    }
    TmuxSession(const TmuxSession &) = delete;
    TmuxSession &operator=(const TmuxSession &) = delete;

    // Runs the shell command in a new session of that size. The command reaches tmux as written: the
    // shell that starts tmux expands nothing of it (an "echo EXIT=$?" tells the program's own code).
    void Start(const std::string &command, int columns, int rows) {
        std::string quoted;
        for (char c : command) {
            if (c == '\\' || c == '"' || c == '$' || c == '`') quoted += '\\';
            quoted += c;
        }
        Shell("tmux new-session -d -s " + name_ + " -x " + std::to_string(columns) + " -y " + std::to_string(rows) +
              " \"" + quoted + "\"");
        started_ = true;
    }
    std::string Screen() { return Shell("tmux capture-pane -p -t " + name_); }
    void Keys(const std::string &keys) { Shell("tmux send-keys -t " + name_ + " " + keys); }
    void Resize(int columns, int rows) {
        Shell("tmux resize-window -t " + name_ + " -x " + std::to_string(columns) + " -y " + std::to_string(rows));
    }
    bool WaitFor(const std::string &text, std::chrono::milliseconds within) {
        return Until([&] { return Screen().find(text) != std::string::npos; }, within);
    }
    // Moves the focus with Tab (or BTab) until the button is drawn focused (in reverse video). After
    // each key it waits for the program to show the move: the screen or the cursor changes.
    bool FocusButton(const std::string &caption, const char *key = "Tab") {
        auto state = [&] { return Shell("tmux capture-pane -e -p -t " + name_) + Cursor(); };
        for (int i = 0; i < 20; ++i) {
            std::string before = state();
            if (before.find("\x1b[7m[" + caption + "]") != std::string::npos) return true;
            Keys(key);
            Until([&] { return state() != before; }, std::chrono::seconds(5));
        }
        return false;
    }
    // Moves the focus until the cursor shows in an edit field on the row of that label (buttons hide it).
    bool FocusField(const std::string &label, const char *key = "BTab") {
        for (int i = 0; i < 20; ++i) {
            std::string screen = Screen();
            size_t at = screen.find(label);
            int row = int(
                std::count(screen.begin(), screen.begin() + std::ptrdiff_t(at == std::string::npos ? 0 : at), '\n'));
            std::string before = Cursor();
            if (at != std::string::npos && before.rfind("1 " + std::to_string(row) + " ", 0) == 0) return true;
            Keys(key);
            Until([&] { return Cursor() != before; }, std::chrono::seconds(5));
        }
        return false;
    }
    // The screen's line that holds the text, or a line below it.
    std::string LineOf(const std::string &text, int below = 0) {
        std::string screen = Screen();
        size_t at = screen.find(text);
        if (at == std::string::npos) return {};
        size_t start = screen.rfind('\n', at);
        start = start == std::string::npos ? 0 : start + 1;
        for (int i = 0; i < below && start < screen.size(); ++i) start = screen.find('\n', start) + 1;
        return screen.substr(start, screen.find('\n', start) - start);
    }

  private:
    // Whether the cursor shows, and its row and column.
    std::string Cursor() { return Shell("tmux display -p -t " + name_ + " '#{cursor_flag} #{cursor_y} #{cursor_x}'"); }
    std::string name_;
    bool started_ = false;
};

} // namespace rt::testing
