// The launcher's calls on Windows: the wide-character functions, with paths kept as UTF-8.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <random>
#include <vector>

#include "formats/io/io.h"
#include "formats/text/wide.h"
#include "platform.h"

namespace launcher {
namespace {

// A folder that is what it seems: a directory, not a link or junction to somewhere else.
bool IsPlainFolder(const std::wstring &path) {
    DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string SystemMessage(DWORD error) {
    wchar_t *text = nullptr;
    DWORD n =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring message(text ? text : L"", n);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : rt::WideToUtf8(message);
}

} // namespace

// Rights come with the account on Windows: a start has nothing raised to drop.
Outcome<Done> DropRaisedRights() { return Done{}; }

Outcome<std::string> OwnPath() {
    std::wstring buffer(kMaxPath + 1, L'\0');
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    if (n == 0 || n >= buffer.size()) return Failure{Error::CantOpen, {}}; // cut short: refused rather than used
    buffer.resize(n);
    return rt::WideToUtf8(buffer);
}

Outcome<int> OpenForReading(const std::string &path) {
    int fd = ::_wopen(rt::Utf8ToWide(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return Failure{Error::CantOpen, {}};
    return fd;
}
void CloseFile(int fd) { ::_close(fd); }

// The user's temporary folder is the user's own (it lies in the profile, and only its owner may
// write there). The folder under it is used when it is a plain folder; a link or junction planted
// under its name, or a file, is never followed: a fresh folder beside it is made instead.
Outcome<ExtractionFolder> PrivateFolder(const std::string &name) {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return Failure{Error::NoTempDir, {}};
    std::wstring folder = std::wstring(temp, n) + rt::Utf8ToWide(name); // the path ends in a backslash
    if (folder.size() + 16 > kMaxPath) return Failure{Error::NoTempDir, "path too long"};
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return Failure{Error::NoTempDir, SystemMessage(::GetLastError())};
    if (IsPlainFolder(folder)) return ExtractionFolder{rt::WideToUtf8(folder), false};
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L"-%06x", unsigned(random() & 0xFFFFFF));
        std::wstring made = folder + suffix;
        if (::CreateDirectoryW(made.c_str(), nullptr)) return ExtractionFolder{rt::WideToUtf8(made), true};
    }
    return Failure{Error::NoTempDir, SystemMessage(::GetLastError())};
}

// The loaded DLL's file cannot be removed while the program runs: the fresh folder stays.
void RemoveFreshFolder(const std::string &) {}

Outcome<Done> WriteExtractedFile(const std::string &folder, const std::string &name, std::span<const uint8_t> content) {
    std::string path = folder + "\\" + name;
    // A running copy keeps its core library open and mapped, and Windows lets nobody replace such a
    // file. It need not be when it already holds these bytes (the loader checks them once more).
    auto existing = rt::io::ReadFile(path, content.size());
    if (existing && existing->size() == content.size() &&
        std::memcmp(existing->data(), content.data(), content.size()) == 0)
        return Done{};
    errno = 0;
    if (rt::io::WriteFileAtomic(path, content, 0700, rt::io::Durability::Unsynced)) return Done{};
    return Failure{Error::WriteFailed, std::strerror(errno ? errno : EIO)};
}

Outcome<void *> LoadVerifiedLibrary(const std::string &path, std::span<const uint8_t> expected) {
    std::wstring wide = rt::Utf8ToWide(path);
    // Held open, sharing reads only, while it is checked and loaded: nobody can write, replace or
    // remove it in between. A link is opened as itself, and refused.
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failure{Error::LoadFailed, SystemMessage(::GetLastError())};
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = ::GetFileInformationByHandle(file, &info) && ::GetFileType(file) == FILE_TYPE_DISK &&
              !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
              ((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow) == expected.size();
    std::vector<uint8_t> bytes(ok ? expected.size() : 0);
    for (size_t got = 0; ok && got < bytes.size();) {
        DWORD n = 0;
        ok = ::ReadFile(file, bytes.data() + got, DWORD(bytes.size() - got), &n, nullptr) && n > 0;
        got += n;
    }
    ok = ok && std::equal(bytes.begin(), bytes.end(), expected.begin());
    HMODULE library = ok ? ::LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : nullptr;
    std::string why =
        ok ? (library ? std::string() : SystemMessage(::GetLastError())) : path + " is not the file the program wrote";
    ::CloseHandle(file);
    if (!library) return Failure{Error::LoadFailed, why};
    return reinterpret_cast<void *>(library);
}

Outcome<void *> FindSymbol(void *library, const char *name) {
    auto symbol = reinterpret_cast<void *>(::GetProcAddress(static_cast<HMODULE>(library), name));
    if (!symbol) return Failure{Error::InvalidKernel, {}};
    return symbol;
}

void ShowErrorBox(std::string_view message) {
    ::MessageBoxW(nullptr, rt::Utf8ToWide(message).c_str(), L"Error", MB_OK | MB_ICONERROR);
}

} // namespace launcher
