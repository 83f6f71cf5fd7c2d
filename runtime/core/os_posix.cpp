// The runtime core's files on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "files.h"
#include "formats/io/io.h"
#include "formats/text/text.h"
#include "image_loader.h"
#include "os.h"

namespace rt {

std::string FindExisting(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) return path;
    std::string folder = io::FolderOf(path);
    std::string name = io::NameOf(path);
    DIR *dir = ::opendir(folder.c_str());
    if (!dir) return path;
    std::string found = path;
    while (dirent *e = ::readdir(dir)) {
        if (EqualsIgnoreCase(e->d_name, name)) {
            found = folder + "/" + e->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

namespace {

// $NAME when it holds an absolute path, else $HOME/fallback; empty when neither is known.
std::string XdgFolder(const char *name, const char *fallback) {
    const char *v = std::getenv(name);
    if (v && v[0] == '/') return v;
    const char *home = std::getenv("HOME");
    return home && home[0] == '/' ? std::string(home) + "/" + fallback : std::string();
}

} // namespace

std::string UserFile(const std::string &path, const std::string &programFolder) {
    if (io::FolderOf(path) != programFolder || ::access(programFolder.c_str(), W_OK) == 0) return path;
    std::string config = XdgFolder("XDG_CONFIG_HOME", ".config");
    if (config.empty()) return path;
    ::mkdir(config.c_str(), 0700);
    std::string folder = config + "/routetrace";
    ::mkdir(folder.c_str(), 0700);
    return folder + "/" + io::NameOf(path);
}

std::vector<std::string> DataFileCandidates(const std::string &path, const std::string &programFolder) {
    if (path.empty() || path[0] == '/') return {};
    std::string relative = path.rfind("./", 0) == 0 ? path.substr(2) : path;
    std::vector<std::string> candidates = {programFolder + "/" + relative};
    std::string home = XdgFolder("XDG_DATA_HOME", ".local/share");
    if (!home.empty()) candidates.push_back(home + "/routetrace/" + relative);
    const char *dirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    for (size_t start = 0; start <= list.size();) {
        size_t colon = list.find(':', start);
        std::string dir = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!dir.empty() && dir[0] == '/') candidates.push_back(dir + "/routetrace/" + relative);
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return candidates;
}

MappingInfo FindMapping(const void *address) {
    MappingInfo info;
    uintptr_t a = reinterpret_cast<uintptr_t>(address);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long long start = 0, end = 0;
        char perms[8] = {};
        if (std::sscanf(line.c_str(), "%llx-%llx %7s", &start, &end, perms) != 3) continue;
        if (a < start || a >= end) continue;
        info.available = size_t(end - a);
        info.writable = perms[1] == 'w';
        info.executable = perms[2] == 'x';
        // A section may continue in the next mapping when permissions change; the image does not.
        break;
    }
    return info;
}

namespace os {
namespace {

FileIdentity IdentityOf(const struct stat &st) {
    return {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
            int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

} // namespace

std::optional<FileIdentity> Identify(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return IdentityOf(st);
}

Handle Open(const std::string &path, Access access, FileIdentity *id) {
    int fd = -1;
    struct stat st;
    switch (access) {
    case Access::Read: fd = io::OpenRegular(path, O_RDONLY, &st).value_or(-1); break;
    case Access::Write: fd = io::OpenRegular(path, O_WRONLY, &st).value_or(-1); break;
    case Access::ReadWrite: fd = io::OpenRegular(path, O_RDWR, &st).value_or(-1); break;
    case Access::Rewrite:
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0 && ::fstat(fd, &st) != 0) {
            ::close(fd);
            fd = -1;
        }
        break;
    }
    if (fd >= 0 && id) *id = IdentityOf(st);
    return fd;
}

void Close(Handle file) {
    if (file >= 0) ::close(int(file));
}

std::optional<size_t> ReadAt(Handle file, uint8_t *out, size_t n, uint64_t offset) {
    ssize_t got;
    do got = ::pread(int(file), out, n, off_t(offset));
    while (got < 0 && errno == EINTR);
    if (got < 0) return std::nullopt;
    return size_t(got);
}

std::optional<int64_t> SizeOf(Handle file) {
    struct stat st;
    if (::fstat(int(file), &st) != 0) return std::nullopt;
    return int64_t(st.st_size);
}

void *AllocateLow(size_t size) {
    void *p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool MakeExecutable(void *memory, size_t size) { return ::mprotect(memory, size, PROT_READ | PROT_EXEC) == 0; }

std::string ExecutablePath() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string();
}

bool RemoveFile(const std::string &path) { return ::unlink(path.c_str()) == 0; }

FolderLock::FolderLock(const std::string &file) {
    int fd = ::open(io::FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) ::flock(fd, LOCK_EX);
    lock_ = fd;
}

FolderLock::~FolderLock() {
    if (lock_ >= 0) ::close(int(lock_)); // closing releases the lock
}

} // namespace os
} // namespace rt
