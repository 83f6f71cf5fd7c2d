// The core runtime library's two entry points on Linux: GetNewSock, which the launcher looks up, and
// the RuntimeEntry it returns, which runs the program in the image (runtime_entry.cpp), with Linux's
// own steps: where the command line and the window come from.
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "runtime/frontends/report/report_asn.h"
#include "runtime/frontends/report/report_frontend.h"
#include "runtime/frontends/tui/tui_frontend.h"
#include "runtime/frontends/watch/watch_view.h"
#include "command_line.h"
#include "runtime_entry.h"
#include "window_module.h"

namespace {

bool Set(const char *name) {
    const char *v = std::getenv(name);
    return v && *v;
}

// Whether the X display named by DISPLAY accepts a connection. Qt ends the process when it cannot
// connect, so the runtime asks first, through the XCB library that Qt's own X support loads. The
// connection stays open until Qt holds its own: an X server whose last client leaves resets itself,
// and a connection made meanwhile waits for the reset (tens of milliseconds) or is refused.
class DisplayProbe {
  public:
    DisplayProbe() = default;
    DisplayProbe(const DisplayProbe &) = delete;
    DisplayProbe &operator=(const DisplayProbe &) = delete;
    ~DisplayProbe() { Close(); }

    bool Reachable() {
        Close();
        xcb_ = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!xcb_) return false;
        using Connect = void *(*)(const char *, int *);
        using HasError = int (*)(void *);
        auto connect = reinterpret_cast<Connect>(::dlsym(xcb_, "xcb_connect"));
        auto hasError = reinterpret_cast<HasError>(::dlsym(xcb_, "xcb_connection_has_error"));
        disconnect_ = reinterpret_cast<Disconnect>(::dlsym(xcb_, "xcb_disconnect"));
        if (!connect || !hasError || !disconnect_) {
            Close();
            return false;
        }
        // A server resetting itself (its last client just left) refuses connections for a moment:
        // a few tries, a short while apart, tell that from a display that is not there.
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            if (attempt > 0) ::usleep(kRetryMicroseconds);
            connection_ = connect(nullptr, nullptr);
            if (connection_ && hasError(connection_) == 0) return true;
            if (connection_) disconnect_(connection_);
            connection_ = nullptr;
        }
        Close();
        return false;
    }

    void Close() {
        if (connection_) disconnect_(connection_);
        connection_ = nullptr;
        if (xcb_) ::dlclose(xcb_);
        xcb_ = nullptr;
    }

  private:
    static constexpr int kAttempts = 4;
    static constexpr unsigned kRetryMicroseconds = 25000;
    using Disconnect = void (*)(void *);
    void *xcb_ = nullptr;
    void *connection_ = nullptr;
    Disconnect disconnect_ = nullptr;
};

// A graphical display to open the window on (or a Qt platform asked for by name, such as offscreen).
bool HasDisplay(DisplayProbe &probe) {
    if (Set("QT_QPA_PLATFORM") || Set("WAYLAND_DISPLAY")) return true;
    if (!Set("DISPLAY")) return false;
    if (probe.Reachable()) return true;
    product::Tell(std::string("The display ") + std::getenv("DISPLAY") +
                  " cannot be opened; the window cannot be shown.");
    return false;
}

// Standard input and output are a terminal that can show a full-screen interface.
bool InTerminal() {
    const char *term = std::getenv("TERM");
    return ::isatty(0) && ::isatty(1) && term && *term && std::strcmp(term, "dumb") != 0;
}

// The program's command line, from /proc: the launcher hands over the image only.
std::vector<std::string> ProcCommandLine() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::string> args;
    for (size_t at = 0; at < all.size();) {
        size_t end = all.find('\0', at);
        if (end == std::string::npos) end = all.size();
        args.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    if (!args.empty()) args.erase(args.begin());
    return args;
}

// Linux's steps: the command line from /proc; the window in Qt where there is a display, else in
// the terminal, else nowhere (a report is what is left to run).
class LinuxEntry final : public product::EntryPlatform {
  public:
    std::vector<std::string> CommandLine() const override { return ProcCommandLine(); }

    rt::Result<std::unique_ptr<rt::FrontEnd>, product::StartFailure> Window(rt::FrontEndOptions options) override {
        using Failure = product::StartFailure;
        if (DisplayProbe probe; HasDisplay(probe)) {
            // Qt is loaded only now, with the window's module: a report or a terminal window maps none of it.
            auto window = product::MakeQtWindow(std::move(options));
            probe.Close(); // Qt is connected (or has given up) by now
            if (!window) return Failure{window.error(), std::nullopt};
            return std::unique_ptr<rt::FrontEnd>(std::move(*window));
        }
        if (InTerminal()) { // no graphical display: the same window as a full-screen terminal interface
            auto window = rt::TuiFrontEnd::Create(std::move(options));
            if (!window) return Failure{"The window cannot be shown: " + Describe(window.error()), std::nullopt};
            return std::unique_ptr<rt::FrontEnd>(std::move(*window));
        }
        // Nowhere to show the window: say how to trace without one instead of ending silently.
        return Failure{product::kNoWindowHint, rt::kReportNoTrace};
    }

    rt::Result<std::shared_ptr<rt::RoundsObserver>, product::StartFailure>
    LiveView(const rt::ReportOptions &report) override {
        rt::WatchOptions watch;
        watch.target = report.target;
        if (report.asn) {
            // The view's own copy of the table: the report says once where it looked for it.
            auto table = std::make_shared<rt::AsTable>();
            if (FILE *quiet = std::fopen("/dev/null", "w")) {
                table->Load(report.asnFile, report.programName, quiet);
                std::fclose(quiet);
            }
            watch.asOf = [table](uint32_t address) { return rt::AsTable::Column(table->Of(address)); };
        }
        auto view = rt::OpenWatchView(std::move(watch));
        if (!view)
            return product::StartFailure{"routetrace: " + view.error() + ".\n" + product::kWatchHint,
                                         rt::kReportNoTrace};
        return std::shared_ptr<rt::RoundsObserver>(std::move(*view));
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) int32_t RuntimeEntry(const void *image) {
    LinuxEntry platform;
    return product::RunEntry(image, platform);
}

extern "C" __attribute__((visibility("default"))) void *GetNewSock(uint32_t version) {
    return version == RtInterfaceVersion ? reinterpret_cast<void *>(&RuntimeEntry) : nullptr;
}
