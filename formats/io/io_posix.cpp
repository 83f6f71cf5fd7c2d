// Whole-file reads and writes on POSIX systems.
#include "io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace rt::io {

Result<int, Error> OpenRegular(const std::string &path, int flags, struct stat *st) {
    int fd = ::open(path.c_str(), flags | O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
    auto opened = OpenRegular(path);
    if (!opened) return opened.error();
    int fd = *opened;
    std::string bytes;
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
    struct stat old;
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) mode = old.st_mode & 07777;

    static thread_local std::mt19937_64 random{std::random_device{}()};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(random()));
        temporary = path + suffix;
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777);
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

} // namespace rt::io
