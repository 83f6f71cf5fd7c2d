// Whole-file reads and writes on Windows, through the wide-character calls.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "formats/text/wide.h"
#include "io.h"

namespace rt::io {
namespace {

class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (ok()) ::CloseHandle(h_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (ok()) ::CloseHandle(h_);
        h_ = h;
    }

  private:
    HANDLE h_;
};

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The errno a caller reports for the system's reason (a full disk, say).
int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    default: return EIO;
    }
}

bool WriteAll(HANDLE h, std::span<const uint8_t> bytes) {
    for (size_t written = 0; written < bytes.size();) {
        DWORD n = 0;
        DWORD want = DWORD(std::min<size_t>(bytes.size() - written, 1u << 30));
        if (!::WriteFile(h, bytes.data() + written, want, &n, nullptr) || n == 0) return false;
        written += n;
    }
    return true;
}

} // namespace

Result<std::string, Error> ReadFile(const std::string &path, size_t cap) {
    std::wstring wide = Utf8ToWide(path);
    DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return IsMissing(::GetLastError()) ? Error::Missing : Error::ReadFailed;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Error::NotRegular;
    // Shared with writers and deleters: another program's open file is still read.
    Handle file(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) return IsMissing(::GetLastError()) ? Error::Missing : Error::ReadFailed;
    // A device or a pipe ("NUL", "\\.\pipe\...") may block or never end.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) return Error::NotRegular;
    std::string bytes;
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) return Error::ReadFailed;
        if (n == 0) break;
        if (bytes.size() + n > cap) return Error::TooLarge;
        bytes.append(buffer, n);
    }
    return bytes;
}

Result<bool, Error> WriteFileAtomic(const std::string &path, std::span<const uint8_t> bytes, uint32_t /*mode*/,
                                    Durability durability) {
    // The new file takes the folder's permissions, as every file made there does.
    bool sync = durability == Durability::Synced;
    static thread_local std::mt19937_64 random{std::random_device{}()};
    std::wstring target = Utf8ToWide(path), temporary;
    Handle file(INVALID_HANDLE_VALUE);
    for (int attempt = 0; attempt < 16 && !file.ok(); ++attempt) {
        wchar_t suffix[24];
        std::swprintf(suffix, 24, L".%016llx.tmp", static_cast<unsigned long long>(random()));
        temporary = target + suffix;
        // CREATE_NEW never opens what is there, a planted link included.
        file.reset(
            ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.ok() && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (!file.ok()) {
        errno = ErrnoOf(::GetLastError());
        return Error::WriteFailed;
    }
    bool ok = WriteAll(file.get(), bytes) && (!sync || ::FlushFileBuffers(file.get()));
    DWORD cause = ok ? 0 : ::GetLastError();
    file.reset();
    // Replaces the file, or a link at its name: the link itself, never what it points to.
    if (ok && !::MoveFileExW(temporary.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | (sync ? MOVEFILE_WRITE_THROUGH : 0))) {
        ok = false;
        cause = ::GetLastError();
    }
    if (!ok) {
        ::DeleteFileW(temporary.c_str());
        errno = ErrnoOf(cause);
        return Error::WriteFailed;
    }
    return true;
}

// A killed save's file stays: the folder of a Windows copy is its user's own.
void RemoveLeftoverTemporaries(const std::string &) {}

// Each Windows user's folders are guarded by their access lists; the program folder is the user's
// own or Program Files.
std::optional<std::string> WhyNotOwn(const std::string &, const struct stat *) { return std::nullopt; }
std::optional<std::string> WhyFolderNotOwn(const std::string &) { return std::nullopt; }

} // namespace rt::io
