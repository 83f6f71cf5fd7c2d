// The runtime core's files on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "files.h"
#include "formats/io/io.h"
#include "formats/text/text.h"
#include "image_loader.h"
#include "os.h"

namespace rt {

namespace os {
namespace {
FileIdentity IdentityOf(const struct stat &st) {
    return {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
            int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}
} // namespace
} // namespace os

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

// io::WhyNotOwn, except that a link is taken where nobody else could have put it or changed it (the
// user's own or root's, in a folder no one else may write) and the file it leads to passes the rule
// itself: as safe as that file, and what a user who links a database into a copy's folder expects.
// A link to nothing lends nothing: it reads as a missing file.
std::optional<std::string> WhyNotOwnInPlace(const std::string &path, const struct stat &st) {
    if (!S_ISLNK(st.st_mode)) return io::WhyNotOwn(path, &st);
    if (st.st_uid != ::geteuid() && st.st_uid != 0) return "it is a link that belongs to another user";
    if (auto why = io::WhyFolderNotOwn(io::FolderOf(path))) return why;
    char *real = ::realpath(path.c_str(), nullptr);
    if (!real) return std::nullopt;
    std::string target = real;
    std::free(real);
    if (auto why = io::WhyNotOwn(target)) return "it is a link to " + target + ": " + *why;
    return std::nullopt;
}

// UsableInPlace for a file whose status (not following a link) has just been read.
bool UsableInPlace(const std::string &path, const struct stat &st) {
    // The place database is opened at every lookup: a file seen before, unchanged since (same inode
    // and status change time, which a chmod or chown moves), keeps its verdict. Its folders can be
    // changed only by this user or root.
    struct Verdict {
        dev_t device;
        ino_t inode;
        timespec changed;
        bool usable;
    };
    static std::mutex mutex;
    static std::map<std::string, Verdict> known;
    std::lock_guard lock(mutex);
    auto it = known.find(path);
    if (it != known.end() && it->second.device == st.st_dev && it->second.inode == st.st_ino &&
        it->second.changed.tv_sec == st.st_ctim.tv_sec && it->second.changed.tv_nsec == st.st_ctim.tv_nsec)
        return it->second.usable;
    auto why = WhyNotOwnInPlace(path, st);
    if (why) NotePassedOver(path, *why);
    if (known.size() >= 16) known.clear(); // a few files at most are ever asked about
    known[path] = {st.st_dev, st.st_ino, st.st_ctim, !why};
    return !why;
}

} // namespace

bool UsableInPlace(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    return UsableInPlace(path, st);
}

PlacedFile CheckPlace(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return {path, false, std::nullopt};
        // Only when nothing has the exact name is a name in another letter case looked for.
        std::string other = FindExisting(path);
        return {other, other == path || UsableInPlace(other), std::nullopt};
    }
    bool usable = UsableInPlace(path, st);
    if (!S_ISREG(st.st_mode)) return {path, usable, std::nullopt};
    return {path, usable, os::IdentityOf(st)};
}

bool HasOtherPlaces(const std::string &path) { return !path.empty() && path[0] != '/'; }

namespace {

// $NAME when it holds an absolute path, else $HOME/fallback; empty when neither is known.
std::string XdgFolder(const char *name, const char *fallback) {
    const char *v = std::getenv(name);
    if (v && v[0] == '/') return v;
    const char *home = std::getenv("HOME");
    return home && home[0] == '/' ? std::string(home) + "/" + fallback : std::string();
}

} // namespace

std::string UserFile(const std::string &path, const std::string &programFolder, std::string_view productFolder) {
    if (productFolder.empty() || io::FolderOf(path) != programFolder) return path;
    // Beside the program when the user may write there, and nobody else may replace what is there.
    if (::access(programFolder.c_str(), W_OK) == 0 && !io::WhyFolderNotOwn(programFolder) &&
        UsableInPlace(FindExisting(path)))
        return path;
    std::string config = XdgFolder("XDG_CONFIG_HOME", ".config");
    if (config.empty()) return path;
    ::mkdir(config.c_str(), 0700);
    std::string folder = config + "/" + std::string(productFolder);
    ::mkdir(folder.c_str(), 0700);
    return folder + "/" + io::NameOf(path);
}

std::vector<std::string> DataFileCandidates(const std::string &path, const std::string &programFolder,
                                            std::string_view productFolder) {
    if (!HasOtherPlaces(path)) return {};
    std::string relative = path.rfind("./", 0) == 0 ? path.substr(2) : path;
    std::vector<std::string> candidates = {programFolder + "/" + relative};
    if (productFolder.empty()) return candidates;
    const std::string inFolder = "/" + std::string(productFolder) + "/" + relative;
    std::string home = XdgFolder("XDG_DATA_HOME", ".local/share");
    if (!home.empty()) candidates.push_back(home + inFolder);
    const char *dirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    for (size_t start = 0; start <= list.size();) {
        size_t colon = list.find(':', start);
        std::string dir = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!dir.empty() && dir[0] == '/') candidates.push_back(dir + inFolder);
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
namespace {} // namespace

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

namespace {

// A folder of this user's alone (a real folder, not a link, that nobody else may enter).
bool IsPrivateFolder(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// A folder of this user's own that others cannot write to (a real folder, not a link).
bool IsOwnFolder(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Where this user's lock files go: the product's folder (PRODUCT) in the private $XDG_RUNTIME_DIR,
// otherwise PRODUCT-UID in $TMPDIR or /tmp. Where that is not the user's alone (another user made it
// first), the user's own $XDG_CONFIG_HOME/PRODUCT, a place every copy of this user's agrees on and no
// one else can take. Empty when there is none.
std::string LockFolder(std::string_view productFolder) {
    if (productFolder.empty()) return {};
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder;
    if (runtime && runtime[0] == '/' && IsPrivateFolder(runtime)) {
        folder = std::string(runtime) + "/" + std::string(productFolder);
    } else {
        const char *tmp = std::getenv("TMPDIR");
        folder = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/" + std::string(productFolder) + "-" +
                 std::to_string(::geteuid());
    }
    ::mkdir(folder.c_str(), 0700);
    if (IsPrivateFolder(folder)) return folder;
    std::string config = XdgFolder("XDG_CONFIG_HOME", ".config");
    if (config.empty()) return {};
    ::mkdir(config.c_str(), 0700);
    folder = config + "/" + std::string(productFolder);
    ::mkdir(folder.c_str(), 0700);
    return IsOwnFolder(folder) ? folder : std::string();
}

// What the lock of the file at the path is named after: the file, or its folder while it is missing.
std::optional<std::string> LockKey(const std::string &file) {
    struct stat st;
    char key[64];
    if (::lstat(file.c_str(), &st) == 0) {
        std::snprintf(key, sizeof key, "f-%llx-%llx", (unsigned long long)st.st_dev, (unsigned long long)st.st_ino);
    } else if (errno == ENOENT && ::stat(io::FolderOf(file).c_str(), &st) == 0) {
        std::snprintf(key, sizeof key, "d-%llx-%llx", (unsigned long long)st.st_dev, (unsigned long long)st.st_ino);
    } else {
        return std::nullopt;
    }
    return std::string(key);
}

// How long a save waits for another copy's: a copy of this user's that hangs holding it does not
// stop the others for good.
constexpr auto kLockWait = std::chrono::seconds(10);
constexpr auto kLockPoll = std::chrono::milliseconds(5);

} // namespace

FileLock::FileLock(const std::string &file, std::string_view productFolder) {
    std::string folder = LockFolder(productFolder);
    if (folder.empty()) return;
    auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (std::chrono::steady_clock::now() < deadline) {
        auto key = LockKey(file);
        if (!key) return;
        std::string name = folder + "/lock-" + *key;
        int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) return;
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            ::close(fd);
            return;
        }
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(kLockPoll);
        struct stat named;
        bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0; // held already: taking it again succeeds
        // Still the lock file of that name, and the file still the one it is named after: a copy that
        // replaced the file meanwhile left this lock to nobody.
        bool current = locked && ::fstat(fd, &st) == 0 && st.st_nlink > 0 && ::lstat(name.c_str(), &named) == 0 &&
                       named.st_ino == st.st_ino && named.st_dev == st.st_dev;
        if (current && LockKey(file) == key) {
            lock_ = fd;
            name_ = name;
            return;
        }
        if (current) ::unlink(name.c_str()); // named after a file that is gone: nobody needs it
        ::close(fd);
    }
}

void FileLock::Replaced() {
    if (lock_ != kNoHandle) ::unlink(name_.c_str());
}

FileLock::~FileLock() {
    if (lock_ >= 0) ::close(int(lock_)); // closing releases the lock
}

} // namespace os
} // namespace rt
