// Whole-file reads and writes on POSIX systems.
#include "io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace rt::io {

namespace {

// Whether the owner is this user or root: anyone else could have put it there or changed it.
bool OwnedHere(const struct stat &st) { return st.st_uid == ::geteuid() || st.st_uid == 0; }

} // namespace

std::optional<std::string> WhyNotOwn(const std::string &path, const struct stat *opened) {
    struct stat st;
    if (opened) {
        st = *opened;
    } else if (::lstat(path.c_str(), &st) != 0) {
        return "it cannot be examined";
    }
    if (S_ISLNK(st.st_mode)) return "it is a link";
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (!OwnedHere(st)) return "it belongs to another user";
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return "others may write to it";
    return WhyFolderNotOwn(FolderOf(path));
}

std::optional<std::string> WhyFolderNotOwn(const std::string &path) {
    // Every folder from the root down to this one, as they really are (no link among them).
    char *real = ::realpath(path.c_str(), nullptr);
    if (!real) return "the folder " + path + " cannot be examined";
    std::string folder = real;
    std::free(real);
    // "/", then each folder below it down to the whole path.
    for (size_t end = 0; end != std::string::npos;) {
        std::string part = end == 0 ? "/" : folder.substr(0, end);
        end = folder.size() > 1 ? folder.find('/', end + 1) : std::string::npos;
        if (end == std::string::npos && part != folder) end = folder.size();
        struct stat dir;
        if (::stat(part.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))
            return "the folder " + part + " cannot be examined";
        if (!OwnedHere(dir)) return "the folder " + part + " belongs to another user";
        // A sticky folder (/tmp) lets nobody replace or remove a file that is not their own.
        if ((dir.st_mode & (S_IWGRP | S_IWOTH)) && !(dir.st_mode & S_ISVTX))
            return "others may write to the folder " + part;
    }
    return std::nullopt;
}

Result<int, Error> OpenRegular(const std::string &path, int flags, struct stat *st) {
    int fd = ::open(path.c_str(), flags | O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ELOOP && (flags & O_NOFOLLOW)) return Error::NotRegular; // a link
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? Error::Missing : Error::ReadFailed;
    struct stat own;
    if (!st) st = &own;
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        return Error::NotRegular;
    }
    return fd;
}

Result<std::string, Error> ReadFile(const std::string &path, size_t cap) {
    // A link is not followed: it could pull another file's bytes (one the user may not even read
    // knowingly) into a file the program writes back.
    struct stat st;
    auto opened = OpenRegular(path, O_NOFOLLOW, &st);
    if (!opened) return opened.error();
    int fd = *opened;
    std::string bytes;
    // Room for the whole file at once (it may still grow or shrink while it is read).
    if (st.st_size > 0) bytes.reserve(size_t(std::min<uint64_t>(uint64_t(st.st_size), cap)));
    char buf[65536];
    Error failure = Error::ReadFailed;
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (bytes.size() + size_t(n) > cap) {
            failure = Error::TooLarge;
            ok = false;
            break;
        }
        bytes.append(buf, size_t(n));
    }
    ::close(fd);
    if (!ok) return failure;
    return bytes;
}

namespace {

// The process's file mode creation mask, read without changing it (umask() would change it for
// every thread for a moment).
mode_t CurrentUmask() {
    FILE *status = std::fopen("/proc/self/status", "re");
    unsigned mask = 022;
    char line[128];
    while (status && std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
    if (status) std::fclose(status);
    return mode_t(mask & 0777);
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += size_t(n);
    }
    return true;
}

} // namespace

Result<bool, Error> WriteFileAtomic(const std::string &path, std::span<const uint8_t> bytes, uint32_t mode,
                                    Durability durability) {
    bool sync = durability == Durability::Synced;
    // The old file's read and write bits, only when it is this user's own regular file: a file
    // another user planted (an executable, a set-id one) lends its mode to nothing.
    struct stat old;
    if (::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) && old.st_uid == ::geteuid())
        mode = old.st_mode & 0666;
    else mode = mode & 0777 & ~CurrentUmask();

    static thread_local std::mt19937_64 random{std::random_device{}()};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(random()));
        temporary = path + suffix;
        // Private until it is complete: nobody else can open it in a shared folder meanwhile.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return Error::WriteFailed;
    bool ok = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && (!sync || ::fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        int cause = errno; // the caller may tell why (a full disk, say)
        ::unlink(temporary.c_str());
        errno = cause;
        return Error::WriteFailed;
    }
    int folder = sync ? ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (folder >= 0) {
        ::fsync(folder); // the rename itself survives a crash
        ::close(folder);
    }
    return true;
}

void RemoveLeftoverTemporaries(const std::string &path) {
    std::string folder = FolderOf(path), prefix = NameOf(path) + ".";
    DIR *dir = ::opendir(folder.c_str());
    if (!dir) return;
    const std::string separator = folder.back() == '/' ? "" : "/";
    while (dirent *e = ::readdir(dir)) {
        // Exactly the names WriteFileAtomic makes: NAME.<16 hex digits>.tmp
        std::string_view name = e->d_name;
        if (name.size() != prefix.size() + 20 || name.substr(0, prefix.size()) != prefix || !name.ends_with(".tmp"))
            continue;
        std::string_view digits = name.substr(prefix.size(), 16);
        if (digits.find_first_not_of("0123456789abcdef") != std::string_view::npos) continue;
        std::string leftover = folder + separator + std::string(name);
        struct stat st;
        if (::lstat(leftover.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlink(leftover.c_str());
    }
    ::closedir(dir);
}

} // namespace rt::io
