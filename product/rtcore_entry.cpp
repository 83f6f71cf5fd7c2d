// The core runtime library's two entry points: GetNewSock, which the launcher looks up, and the
// RuntimeEntry it returns, which takes the program image and runs the program. This is where the
// generic runtime meets this product: its platform, its front ends and its name.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "contract/form_layout.h"

#include "runtime/core/image_loader.h"
#include "runtime/platform/linux/win32_api.h"
#include "runtime/platform/platform.h"
#include "runtime/frontends/qt/qt_frontend.h"
#include "runtime/frontends/report/report_frontend.h"
#include "runtime/frontends/tui/tui_frontend.h"
#include "runtime/core/runtime.h"
#include "command_line.h"
#include "product.h"

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
    std::fprintf(stderr, "The display %s cannot be opened; the window cannot be shown.\n", std::getenv("DISPLAY"));
    return false;
}

// Standard input and output are a terminal that can show a full-screen interface.
bool InTerminal() {
    const char *term = std::getenv("TERM");
    return ::isatty(0) && ::isatty(1) && term && *term && std::strcmp(term, "dumb") != 0;
}

void Refuse(const std::string &message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    rt::Runtime::Instance().frontEnd().ShowMessage(rt::Utf8ToGbk(message), 0, std::string_view("Error"));
}

// The program's command line, from /proc: the launcher hands over the image only.
std::vector<std::string> CommandLine() {
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

} // namespace

extern "C" __attribute__((visibility("default"))) int32_t RuntimeEntry(const void *image) {
    rt::Runtime &runtime = rt::Runtime::Instance();
    product::Request request = product::ParseCommandLine(CommandLine());
    if (request.exitNow) runtime.Exit(*request.exitNow);
    rt::MappingInfo where = rt::FindMapping(image);
    auto loaded = rt::PrepareImage(static_cast<const uint8_t *>(image), where.available,
                                   rt::platform::FindDllFunction);
    if (!loaded) {
        if (request.report) { // a script takes no start that failed for a finished trace
            std::fprintf(stderr, "%s\n", rt::Describe(loaded.error()).c_str());
            runtime.Exit(rt::kReportNoTrace);
        }
        Refuse(rt::Describe(loaded.error()));
        if (request.report) runtime.Exit(rt::kReportNoTrace); // a report that cannot run says so
        return 1;
    }
    const rt::PreparedImage &prepared = *loaded;
    std::span<const uint8_t> form{prepared.form, prepared.formSize};
    uint32_t codeSize = prepared.codeSize;
    auto routineAt = product::RoutineAt(prepared);
    if (request.report) {
        product::UseReportFrontEnd(std::move(*request.report), prepared);
    } else if (DisplayProbe probe; HasDisplay(probe)) {
        auto window = rt::QtFrontEnd::Create({form, codeSize, routineAt});
        probe.Close(); // Qt is connected (or has given up) by now
        if (!window) {
            Refuse(Describe(window.error()));
            return 1;
        }
        runtime.SetFrontEnd(std::move(*window));
    } else if (InTerminal()) {
        // No graphical display: the same window as a full-screen terminal interface.
        auto window = rt::TuiFrontEnd::Create({form, codeSize, routineAt, 0, 1, product::kPictureLabel});
        if (window) runtime.SetFrontEnd(std::move(*window));
        else std::fprintf(stderr, "The window cannot be shown: %s\n", Describe(window.error()).c_str());
    } else {
        // Nowhere to show the window: say how to trace without one instead of ending silently.
        std::fputs(product::kNoWindowHint, stderr);
        runtime.Exit(rt::kReportNoTrace);
    }
    prepared.start(); // the start routine ends the program through slot 0x24
    return 0;
}

// The raw ICMP socket a privileged start opened before it dropped its rights.

extern "C" __attribute__((visibility("default"))) void *GetNewSock(uint32_t version) {
    return version == RtInterfaceVersion ? reinterpret_cast<void *>(&RuntimeEntry) : nullptr;
}
