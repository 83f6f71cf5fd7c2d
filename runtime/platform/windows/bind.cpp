// The DLL commands on Windows: the system's own modules, loaded by name and asked for the function.
// Nothing is emulated on this platform; the two echo commands are reached through the runtime's
// echo bounds, as on Linux.
#include "system_dll.h"

#include <cstring>
#include <string>

#include "formats/text/wide.h"
#include "runtime/core/echo_bounds.h"
#include "runtime/platform/platform.h"

namespace rt::platform {
namespace {

// The system's functions, with the program's 32-bit convention.
using CreateFn = HANDLE(WINAPI *)();
using SendEchoFn = DWORD(WINAPI *)(HANDLE, DWORD, LPVOID, WORD, LPVOID, LPVOID, DWORD, DWORD);
CreateFn g_create = nullptr;
SendEchoFn g_sendEcho = nullptr;

// ICMP_ECHO_REPLY: the answering address, then the status, then the round trip in milliseconds.
constexpr size_t kReplyAddress = 0, kReplyRoundTrip = 8, kReplyHeader = 28;

HANDLE WINAPI BoundedIcmpCreateFile() {
    HANDLE handle = g_create();
    NoteEchoHandleOpened(handle != INVALID_HANDLE_VALUE && handle != nullptr);
    return handle;
}

DWORD WINAPI BoundedIcmpSendEcho(HANDLE handle, DWORD destination, LPVOID data, WORD size, LPVOID options, LPVOID reply,
                                 DWORD replySize, DWORD timeout) {
    EchoBounds bounds = CurrentEchoBounds();
    EchoOutcome outcome;
    if (options) outcome.ttl = static_cast<const uint8_t *>(options)[0];
    if (bounds.lastTtl && outcome.ttl > bounds.lastTtl) return 0; // past the last hop: nothing is sent
    DWORD n =
        g_sendEcho(handle, destination, data, size, options, reply, replySize, bounds.waitMs ? bounds.waitMs : timeout);
    if (n == 1 && reply && replySize >= kReplyHeader) {
        outcome.answered = true;
        std::memcpy(&outcome.address, static_cast<const uint8_t *>(reply) + kReplyAddress, 4);
        std::memcpy(&outcome.roundTripMs, static_cast<const uint8_t *>(reply) + kReplyRoundTrip, 4);
    }
    NoteEchoOutcome(outcome);
    return n;
}

} // namespace

bool SystemSearchKnown() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    return kernel && ::GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

std::wstring SystemDllPath(std::string_view dll) {
    if (dll.empty() || dll == "." || dll == ".." || dll.find_first_of("\\/:") != std::string_view::npos) return {};
    wchar_t folder[MAX_PATH];
    UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring path = std::wstring(folder, n) + L"\\" + Utf8ToWide(dll);
    // The loader adds ".dll" to a bare name; said here so the path names the very file.
    if (dll.find('.') == std::string_view::npos) path += L".dll";
    return path;
}

HMODULE LoadSystemDll(std::string_view dll, bool systemSearchKnown) {
    std::wstring path = SystemDllPath(dll);
    if (path.empty()) return nullptr;
    if (systemSearchKnown) return ::LoadLibraryExW(Utf8ToWide(dll).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // The module's own dependencies are then looked for beside it, in the system folder, first.
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void *FindDllFunction(std::string_view dll, std::string_view function) {
    static const bool searchKnown = SystemSearchKnown();
    // The module stays loaded for the process's life.
    HMODULE module = LoadSystemDll(dll, searchKnown);
    if (!module) return nullptr;
    std::string name(function); // export names match exactly
    FARPROC found = ::GetProcAddress(module, name.c_str());
    if (found && name == "IcmpCreateFile") {
        g_create = reinterpret_cast<CreateFn>(reinterpret_cast<void *>(found));
        return reinterpret_cast<void *>(&BoundedIcmpCreateFile);
    }
    if (found && name == "IcmpSendEcho") {
        g_sendEcho = reinterpret_cast<SendEchoFn>(reinterpret_cast<void *>(found));
        return reinterpret_cast<void *>(&BoundedIcmpSendEcho);
    }
    return reinterpret_cast<void *>(found);
}

} // namespace rt::platform
