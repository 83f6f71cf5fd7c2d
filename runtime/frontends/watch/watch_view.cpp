#include "watch_view.h"

#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "watch_screen.h"

namespace rt {

namespace {

constexpr int kCtrlC = 3;
// How often the keys' thread looks at the terminal without a key: ncurses tells of a new size only
// when it is asked for a key.
constexpr int kIdleMs = 100;

class WatchView final : public RoundsObserver {
  public:
    explicit WatchView(WatchOptions options) : options_(std::move(options)) {}
    ~WatchView() override { Finish(); }

    std::optional<std::string> Open();
    void RoundEnded(const PathStats &stats) override;
    RoundsNext WaitForNextRound(std::chrono::steady_clock::time_point due) override;
    void Finish() override;

  private:
    void ReadKeys();
    void Key(int key);
    void Draw();
    watch::Activity Activity() const;
    void HoldMessages();
    void ReleaseMessages();

    WatchOptions options_;
    std::mutex mutex_; // the state below and every ncurses call
    std::condition_variable changed_;
    SCREEN *screen_ = nullptr;
    FILE *in_ = nullptr, *out_ = nullptr;
    int inputFd_ = -1; // -1: no keys can be read
    PathStats stats_;  // what is shown
    // paused: by its user; waiting: the rounds wait for the next one; stop and reset: asked for,
    // not yet told to the rounds; finished: the terminal is given back.
    bool paused_ = false, waiting_ = false, stop_ = false, reset_ = false, finished_ = false;
    int wake_[2] = {-1, -1}; // ends the keys' thread's wait
    std::thread keys_;
    int savedErr_ = -1, heldErr_ = -1; // standard error while the view covers the terminal
};

std::optional<std::string> WatchView::Open() {
    const char *term = std::getenv("TERM");
    if (!::isatty(options_.outputFd)) return "--watch needs a terminal on standard output";
    if (!term || !*term || std::strcmp(term, "dumb") == 0) return "--watch needs a terminal that can show a table";
    // Only the characters' classes: numbers in the report's output keep the C locale's point.
    std::setlocale(LC_CTYPE, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
    inputFd_ = ::isatty(options_.inputFd) ? ::dup(options_.inputFd) : ::open("/dev/tty", O_RDONLY | O_CLOEXEC);
    int in = inputFd_ >= 0 ? ::dup(inputFd_) : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    in_ = in >= 0 ? ::fdopen(in, "r") : nullptr;
    out_ = ::fdopen(::dup(options_.outputFd), "w");
    if (in_ && out_) screen_ = newterm(nullptr, out_, in_);
    if (!screen_) return std::string("--watch cannot draw on this terminal (TERM=") + term + ")";
    set_term(screen_);
    raw(); // Ctrl-C arrives as a key: it ends the view as q does, and the final table follows
    noecho();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(25);
    curs_set(0);
    HoldMessages();
    Draw();
    if (inputFd_ >= 0 && ::pipe2(wake_, O_CLOEXEC) == 0) keys_ = std::thread([this] { ReadKeys(); });
    return std::nullopt;
}

// Messages written to standard error while the table covers the terminal would lie across it: they
// are kept in a file of memory and written out once the terminal is given back.
void WatchView::HoldMessages() {
    if (!::isatty(2)) return;
    heldErr_ = ::memfd_create("routetrace-messages", MFD_CLOEXEC);
    savedErr_ = heldErr_ >= 0 ? ::dup(2) : -1;
    if (savedErr_ < 0 || ::dup2(heldErr_, 2) < 0) {
        if (heldErr_ >= 0) ::close(heldErr_);
        if (savedErr_ >= 0) ::close(savedErr_);
        heldErr_ = savedErr_ = -1;
    }
}

void WatchView::ReleaseMessages() {
    if (heldErr_ < 0) return;
    std::fflush(stderr);
    ::dup2(savedErr_, 2);
    ::close(savedErr_);
    char buffer[4096];
    ssize_t n;
    for (off_t at = 0; (n = ::pread(heldErr_, buffer, sizeof buffer, at)) > 0; at += n)
        for (ssize_t done = 0, w; done < n; done += w)
            if ((w = ::write(2, buffer + done, size_t(n - done))) <= 0) break;
    ::close(heldErr_);
    heldErr_ = savedErr_ = -1;
}

void WatchView::RoundEnded(const PathStats &stats) {
    std::lock_guard lock(mutex_);
    if (reset_) return; // the figures are about to be forgotten: the screen already shows none
    stats_ = stats;
    Draw();
}

RoundsNext WatchView::WaitForNextRound(std::chrono::steady_clock::time_point due) {
    std::unique_lock lock(mutex_);
    waiting_ = true;
    Draw();
    RoundsNext next;
    for (;;) {
        // A reset asked for before q (while paused, say) is done first: the final table must not
        // bring back the figures its user saw forgotten.
        if (reset_ && !finished_ && (!paused_ || stop_)) {
            reset_ = false;
            next = RoundsNext::Reset;
            break;
        }
        if (stop_ || finished_) {
            next = RoundsNext::Stop;
            break;
        }
        if (!paused_ && std::chrono::steady_clock::now() >= due) {
            next = RoundsNext::Go;
            break;
        }
        if (paused_) changed_.wait(lock);
        else changed_.wait_until(lock, due);
    }
    waiting_ = false;
    Draw();
    return next;
}

void WatchView::Finish() {
    {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        finished_ = true;
    }
    changed_.notify_all();
    if (keys_.joinable()) {
        char byte = 0;
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
        if (keys_.get_id() != std::this_thread::get_id()) keys_.join();
        else keys_.detach();
    }
    std::lock_guard lock(mutex_);
    if (screen_) {
        endwin();
        delscreen(screen_);
        screen_ = nullptr;
    }
    if (in_) std::fclose(in_);
    if (out_) std::fclose(out_);
    in_ = out_ = nullptr;
    for (int *fd : {&inputFd_, &wake_[0], &wake_[1]})
        if (*fd >= 0) ::close(*fd), *fd = -1;
    ReleaseMessages();
}

void WatchView::ReadKeys() {
    for (;;) {
        pollfd fds[2] = {{inputFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        ::poll(fds, 2, kIdleMs);
        {
            std::lock_guard lock(mutex_);
            if (finished_) return;
            for (int key; (key = wgetch(stdscr)) != ERR;) Key(key);
            // A terminal that hung up has no user left to stop the view.
            if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) stop_ = true;
            Draw();
        }
        changed_.notify_all();
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return;
    }
}

// Under mutex_.
void WatchView::Key(int key) {
    switch (key) {
    case 'q':
    case 'Q':
    case kCtrlC: stop_ = true; break;
    case 'p':
    case 'P': paused_ = !paused_; break;
    case 'r':
    case 'R':
        reset_ = true;
        stats_ = PathStats{stats_.address, 0, false, {}};
        break;
    default: break; // KEY_RESIZE among them: ncurses has resized the screen, Draw fills it
    }
}

// Under mutex_.
watch::Activity WatchView::Activity() const {
    if (stop_ && !waiting_) return watch::Activity::Stopping;
    if (paused_) return waiting_ ? watch::Activity::Paused : watch::Activity::Pausing;
    return watch::Activity::Running;
}

// Under mutex_.
void WatchView::Draw() {
    if (!screen_ || finished_) return;
    int rows, columns;
    getmaxyx(stdscr, rows, columns);
    watch::Screen screen = watch::ComposeScreen({options_.target, &stats_, Activity(), options_.asOf}, columns, rows);
    erase();
    for (size_t i = 0; i < screen.lines.size(); ++i) {
        int row = int(i);
        attr_t attr = row == screen.titleLine ? A_REVERSE : row == screen.headerLine ? A_BOLD : A_NORMAL;
        if (attr == A_REVERSE) mvhline(row, 0, ' ' | A_REVERSE, columns);
        attron(attr);
        mvaddstr(row, 0, screen.lines[i].c_str());
        attroff(attr);
    }
    refresh();
}

} // namespace

Result<std::unique_ptr<RoundsObserver>, std::string> OpenWatchView(WatchOptions options) {
    auto view = std::make_unique<WatchView>(std::move(options));
    if (auto why = view->Open()) return *why;
    return std::unique_ptr<RoundsObserver>(std::move(view));
}

} // namespace rt
