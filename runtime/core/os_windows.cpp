// The runtime core's files on Windows, through the wide-character calls; paths are UTF-8.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "files.h"
#include "formats/io/io.h"
#include "formats/text/wide.h"
#include "image_loader.h"
#include "os.h"

namespace rt {
namespace {

bool IsAbsolute(const std::string &path) {
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) || (path.size() > 1 && path[1] == ':');
}

// Whether the user may create files in the folder: tried, as only that tells (ACLs, read-only media).
bool Writable(const std::string &folder) {
    wchar_t probe[32];
    std::swprintf(probe, 32, L"\\.rt-probe-%lu", ::GetCurrentProcessId());
    HANDLE h = ::CreateFileW((Utf8ToWide(folder) + probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

os::FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION &info) {
    return {info.dwVolumeSerialNumber, uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow,
            int64_t(uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow),
            int64_t(uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime)};
}

// The identity of an open handle when it is a regular file on a disk (not a folder, device or pipe).
std::optional<os::FileIdentity> RegularIdentity(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return IdentityOf(info);
}

// Whether two paths name the same folder. The history's path reaches here with '/' (the core's own
// separator) and the program's folder with '\' (from the system); the file system ignores case.
bool SameFolder(const std::string &a, const std::string &b) {
    std::wstring x = Utf8ToWide(a), y = Utf8ToWide(b);
    std::replace(x.begin(), x.end(), L'/', L'\\');
    std::replace(y.begin(), y.end(), L'/', L'\\');
    return ::CompareStringOrdinal(x.c_str(), int(x.size()), y.c_str(), int(y.size()), TRUE) == CSTR_EQUAL;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace

// A Windows user's folders are guarded by their access lists: nothing is passed over.
bool UsableInPlace(const std::string &) { return true; }

// Windows compares names without regard to letter case itself.
std::string FindExisting(const std::string &path) { return path; }

PlacedFile CheckPlace(const std::string &path) { return {path, true, std::nullopt}; }

bool HasOtherPlaces(const std::string &path) { return !path.empty() && !IsAbsolute(path); }

// A program folder the user may not write to (Program Files) keeps the user's files in
// %APPDATA%\PRODUCT.
std::string UserFile(const std::string &path, const std::string &programFolder, std::string_view productFolder) {
    if (productFolder.empty() || !SameFolder(io::FolderOf(path), programFolder) || Writable(programFolder)) return path;
    const wchar_t *appData = ::_wgetenv(L"APPDATA");
    if (!appData || !*appData) return path;
    std::wstring folder = std::wstring(appData) + L"\\" + Utf8ToWide(std::string(productFolder));
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return WideToUtf8(folder) + "\\" + io::NameOf(path);
}

// A relative file the current folder lacks is looked for beside the program.
std::vector<std::string> DataFileCandidates(const std::string &path, const std::string &programFolder,
                                            std::string_view) {
    if (!HasOtherPlaces(path)) return {};
    std::string relative = path.rfind("./", 0) == 0 ? path.substr(2) : path;
    return {programFolder + "\\" + relative};
}

MappingInfo FindMapping(const void *address) {
    MappingInfo info;
    MEMORY_BASIC_INFORMATION region;
    if (::VirtualQuery(address, &region, sizeof region) == 0 || region.State != MEM_COMMIT) return info;
    uintptr_t end = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    info.available = size_t(end - reinterpret_cast<uintptr_t>(address));
    DWORD p = region.Protect & 0xFF;
    info.writable =
        p == PAGE_READWRITE || p == PAGE_WRITECOPY || p == PAGE_EXECUTE_READWRITE || p == PAGE_EXECUTE_WRITECOPY;
    info.executable =
        p == PAGE_EXECUTE || p == PAGE_EXECUTE_READ || p == PAGE_EXECUTE_READWRITE || p == PAGE_EXECUTE_WRITECOPY;
    return info;
}

namespace os {

// A 32-bit process: all its memory lies below 2 GiB (or 4 GiB for a large-address-aware one, whose
// addresses the image's 32-bit words hold as well).
void *AllocateLow(size_t size) { return ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); }

bool MakeExecutable(void *memory, size_t size) {
    DWORD before;
    if (!::VirtualProtect(memory, size, PAGE_EXECUTE_READ, &before)) return false;
    ::FlushInstructionCache(::GetCurrentProcess(), memory, size);
    return true;
}

std::optional<FileIdentity> Identify(const std::string &path) {
    // Attributes only: never waits, and never reads.
    HANDLE h =
        ::CreateFileW(Utf8ToWide(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    auto id = RegularIdentity(h);
    ::CloseHandle(h);
    return id;
}

Handle Open(const std::string &path, Access access, FileIdentity *id) {
    DWORD rights = access == Access::Read    ? GENERIC_READ
                   : access == Access::Write ? GENERIC_WRITE
                                             : GENERIC_READ | GENERIC_WRITE;
    // Rewrite replaces what is there, a link itself rather than what it points to.
    DWORD how = access == Access::Rewrite ? CREATE_ALWAYS : OPEN_EXISTING;
    DWORD flags = access == Access::Rewrite ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
    HANDLE h = ::CreateFileW(Utf8ToWide(path).c_str(), rights, kShareAll, nullptr, how, FILE_ATTRIBUTE_NORMAL | flags,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) return kNoHandle;
    auto identity = RegularIdentity(h);
    if (!identity) {
        ::CloseHandle(h);
        return kNoHandle;
    }
    if (id) *id = *identity;
    return reinterpret_cast<Handle>(h);
}

void Close(Handle file) {
    if (file != kNoHandle) ::CloseHandle(reinterpret_cast<HANDLE>(file));
}

std::optional<size_t> ReadAt(Handle file, uint8_t *out, size_t n, uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(file), out, DWORD(n), &got, &at))
        return ::GetLastError() == ERROR_HANDLE_EOF ? std::optional<size_t>(0) : std::nullopt;
    return size_t(got);
}

std::optional<int64_t> SizeOf(Handle file) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(reinterpret_cast<HANDLE>(file), &size)) return std::nullopt;
    return int64_t(size.QuadPart);
}

// No mapping is kept: Windows refuses to change a file while a view of it exists, and the user must
// be able to copy a new database over the old one while the program runs.
const uint8_t *MapReadOnly(Handle, size_t) { return nullptr; }
void Unmap(const uint8_t *, size_t) {}

std::string ExecutablePath() {
    std::wstring buffer(32768, L'\0');
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    if (n == 0 || n >= buffer.size()) return {};
    buffer.resize(n);
    return WideToUtf8(buffer);
}

bool RemoveFile(const std::string &path) { return ::DeleteFileW(Utf8ToWide(path).c_str()) != 0; }

// A mutex of the session named after the product and the folder: copies of the program in this
// session take turns, and no file is left in the folder for it.
FileLock::FileLock(const std::string &file, std::string_view productFolder) {
    if (productFolder.empty()) return;
    std::wstring folder = Utf8ToWide(io::FolderOf(file));
    ::CharUpperBuffW(folder.data(), DWORD(folder.size()));
    uint64_t hash = 14695981039346656037ull; // FNV-1a over the folder's name, any letter case
    for (wchar_t c : folder) hash = (hash ^ uint16_t(c)) * 1099511628211ull;
    wchar_t folderHash[24];
    std::swprintf(folderHash, 24, L"-folder-%016llx", static_cast<unsigned long long>(hash));
    // A kernel object's name may hold no backslash after its namespace.
    std::wstring name = L"Local\\" + Utf8ToWide(std::string(productFolder)) + folderHash;
    std::replace(name.begin() + 6, name.end(), L'\\', L'_');
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex && ::WaitForSingleObject(mutex, INFINITE) != WAIT_FAILED) lock_ = reinterpret_cast<Handle>(mutex);
    else if (mutex) ::CloseHandle(mutex);
}

void FileLock::Replaced() {}

FileLock::~FileLock() {
    if (lock_ == kNoHandle) return;
    ::ReleaseMutex(reinterpret_cast<HANDLE>(lock_));
    ::CloseHandle(reinterpret_cast<HANDLE>(lock_));
}

} // namespace os
} // namespace rt
