#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/io/io.h"
#include "platform.h"

extern char **environ;

namespace launcher {

std::optional<std::string> OwnPath() {
    std::string buffer(kMaxPath + 1, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || size_t(n) > kMaxPath) return std::nullopt;
    buffer.resize(size_t(n));
    return buffer;
}

std::optional<std::string> TemporaryDirectory() {
    const char *env = std::getenv("TMPDIR");
    std::string dir = env && env[0] == '/' ? env : "/tmp";
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.size() > kMaxPath) return std::nullopt;
    return dir;
}

void CreateFolder(const std::string &path) { ::mkdir(path.c_str(), 0700); }

bool IsPrivate(const std::string &path, bool wantFile) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return false;
    bool rightKind = wantFile ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode);
    return rightKind && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool ReplaceFile(const std::string &folder, const std::string &name, std::span<const uint8_t> content) {
    return rt::io::WriteFileAtomic(folder + "/" + name, content, 0700).ok();
}

void *LoadLibrary(const std::string &path) {
    void *library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) std::fprintf(stderr, "%s\n", ::dlerror());
    return library;
}

void *FindSymbol(void *library, const char *name) { return ::dlsym(library, name); }

void ShowErrorBox(std::string_view message) {
    std::fprintf(stderr, "Error: %.*s\n", int(message.size()), message.data());
    std::fflush(stderr);
    auto set = [](const char *name) {
        const char *v = std::getenv(name);
        return v && *v;
    };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) return;
    // A dialog through the desktop's usual tools, whichever is installed; nothing if none is.
    std::string text(message);
    const char *const tools[][6] = {
        {"zenity", "--error", "--title=Error", "--text", text.c_str(), nullptr},
        {"kdialog", "--title", "Error", "--error", text.c_str(), nullptr},
        {"xmessage", "-center", "-title", "Error", text.c_str(), nullptr},
    };
    // The tools' own complaints (no such display, say) stay out of the program's output.
    posix_spawn_file_actions_t quiet;
    ::posix_spawn_file_actions_init(&quiet);
    ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    for (const auto &argv : tools) {
        pid_t pid;
        if (::posix_spawnp(&pid, argv[0], &quiet, nullptr, const_cast<char *const *>(argv), environ) != 0) continue;
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) break;
    }
    ::posix_spawn_file_actions_destroy(&quiet);
}

} // namespace launcher
