// The core runtime library's two entry points: GetNewSock, which the launcher looks up, and the
// RuntimeEntry it returns, which takes the program image and runs the program.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "image_loader.h"
#include "qt/qt_frontend.h"
#include "tui/tui_frontend.h"
#include "runtime.h"

namespace {

constexpr uint32_t kInterfaceVersion = 1000;

bool Set(const char *name) {
    const char *v = std::getenv(name);
    return v && *v;
}

// Whether the X display named by DISPLAY accepts a connection. Qt ends the process when it cannot
// connect, so the runtime asks first, through the XCB library that Qt's own X support loads.
bool XDisplayReachable() {
    void *xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb) return false;
    using Connect = void *(*)(const char *, int *);
    using HasError = int (*)(void *);
    using Disconnect = void (*)(void *);
    auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    bool reachable = false;
    if (connect && hasError && disconnect) {
        void *c = connect(nullptr, nullptr);
        reachable = c && hasError(c) == 0;
        if (c) disconnect(c);
    }
    ::dlclose(xcb);
    return reachable;
}

// A graphical display to open the window on (or a Qt platform asked for by name, such as offscreen).
bool HasDisplay() {
    if (Set("QT_QPA_PLATFORM") || Set("WAYLAND_DISPLAY")) return true;
    if (!Set("DISPLAY")) return false;
    if (XDisplayReachable()) return true;
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

} // namespace

extern "C" __attribute__((visibility("default"))) int32_t RuntimeEntry(const void *image) {
    rt::Runtime &runtime = rt::Runtime::Instance();
    rt::MappingInfo where = rt::FindMapping(image);
    rt::PreparedImage prepared = rt::PrepareImage(const_cast<uint8_t *>(static_cast<const uint8_t *>(image)),
                                                  where.available);
    if (!prepared.start) {
        Refuse(prepared.error);
        return 1;
    }
    std::span<const uint8_t> form{prepared.form, prepared.formSize};
    uint8_t *code = prepared.code;
    uint32_t codeSize = prepared.codeSize;
    auto routineAt = [code, codeSize](uint32_t offset) -> void * { return offset < codeSize ? code + offset : nullptr; };
    std::string error;
    if (HasDisplay()) {
        auto window = rt::QtFrontEnd::Create({form, codeSize, routineAt}, error);
        if (!window) {
            Refuse(error);
            return 1;
        }
        runtime.SetFrontEnd(std::move(window));
    } else if (InTerminal()) {
        // No graphical display: the same window as a full-screen terminal interface.
        auto window = rt::TuiFrontEnd::Create({form, codeSize, routineAt, 0, 1}, error);
        if (window) runtime.SetFrontEnd(std::move(window));
        else std::fprintf(stderr, "The window cannot be shown: %s\n", error.c_str());
    }
    prepared.start(); // the start routine ends the program through slot 0x24
    return 0;
}

extern "C" __attribute__((visibility("default"))) void *GetNewSock(uint32_t version) {
    return version == kInterfaceVersion ? reinterpret_cast<void *>(&RuntimeEntry) : nullptr;
}
