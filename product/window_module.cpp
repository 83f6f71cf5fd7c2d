// Loads the Qt window's module from a sealed copy in memory, as the launcher loads this library:
// its bytes are this library's own (window_module.S), and nothing on disk can change its code.
#include "window_module.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "runtime/frontends/qt/qt_module.h"

extern "C" const uint8_t rt_qt_module_start[];
extern "C" const uint8_t rt_qt_module_end[];

namespace product {
namespace {

std::string Error(const char *what) { return std::string(what) + ": " + std::strerror(errno); }

// The module's bytes in a sealed in-memory file, under a descriptor number of its own.
rt::Result<int, std::string> SealedModule() {
    int fd = int(::syscall(SYS_memfd_create, "rtcore-window", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (fd < 0) return Error("no in-memory file");
    const uint8_t *at = rt_qt_module_start;
    while (at < rt_qt_module_end) {
        ssize_t n = ::write(fd, at, size_t(rt_qt_module_end - at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            std::string why = Error("the module cannot be written");
            ::close(fd);
            return why;
        }
        at += n;
    }
    if (::fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        std::string why = Error("the module cannot be sealed");
        ::close(fd);
        return why;
    }
    return fd;
}

// The module takes the control model and the runtime from this library: its symbols are made
// visible to the libraries loaded after it (the launcher loaded it privately).
void ShareThisLibrary() {
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void *>(&MakeQtWindow), &self) && self.dli_fname)
        ::dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
}

} // namespace

rt::Result<std::unique_ptr<rt::FrontEnd>, std::string> MakeQtWindow(rt::FrontEndOptions options) {
    static rt::QtWindowEntry entry = nullptr;
    if (!entry) {
        auto sealed = SealedModule();
        if (!sealed) return sealed.error();
        ShareThisLibrary();
        std::string through = "/proc/self/fd/" + std::to_string(*sealed);
        void *module = ::dlopen(through.c_str(), RTLD_NOW | RTLD_LOCAL);
        std::string why = module ? "" : ::dlerror();
        ::close(*sealed);
        if (!module) return "the window's module cannot be loaded: " + why;
        entry = reinterpret_cast<rt::QtWindowEntry>(::dlsym(module, rt::kQtWindowEntryName));
        if (!entry) return std::string("the window's module has no entry");
    }
    std::unique_ptr<rt::FrontEnd> window;
    std::string failure;
    if (!entry(options, window, failure)) return failure;
    return window;
}

} // namespace product
