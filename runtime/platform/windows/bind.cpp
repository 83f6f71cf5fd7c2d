// The DLL commands on Windows: the system's own modules, loaded by name and asked for the function.
// Nothing is emulated on this platform; the echo and resolver commands are reached through the
// runtime's echo bounds and trace records, as on Linux. Each ICMP handle gets a channel over the
// system's asynchronous echo call (system_echo_transport.h), so a trace with a last hop probes ahead
// as on Linux; where the system lacks that call, each request goes to its IcmpSendEcho as it is.
#define _CRT_RAND_S // rand_s: the system's random numbers, for the probes' sequence numbers
#include <stdlib.h>

#include "system_dll.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "formats/text/wide.h"
#include "runtime/core/echo_bounds.h"
#include "runtime/core/trace_records.h"
#include "runtime/platform/echo_request.h"
#include "runtime/platform/platform.h"
#include "system_echo_transport.h"

namespace rt::platform {
namespace {

// The system's functions, with the program's 32-bit convention.
using CreateFn = HANDLE(WINAPI *)();
using CloseFn = BOOL(WINAPI *)(HANDLE);
using SendEchoFn = DWORD(WINAPI *)(HANDLE, DWORD, LPVOID, WORD, LPVOID, LPVOID, DWORD, DWORD);
using HostByNameFn = void *(WINAPI *)(const char *);
CreateFn g_create = nullptr;
CloseFn g_close = nullptr;
SendEchoFn g_sendEcho = nullptr;
HostByNameFn g_hostByName = nullptr;
SystemEchoCalls g_echoCalls; // the asynchronous echo call, where the ICMP module has it

uint16_t Random16() {
    unsigned v = 0;
    while (rand_s(&v) != 0) {}
    return uint16_t(v);
}

// The channel of each ICMP handle the program holds.
std::mutex g_mutex;
std::map<HANDLE, std::shared_ptr<EchoChannel>> g_channels;

std::shared_ptr<EchoChannel> FindChannel(HANDLE handle) {
    std::lock_guard lock(g_mutex);
    auto it = g_channels.find(handle);
    return it == g_channels.end() ? nullptr : it->second;
}

HANDLE WINAPI RecordedIcmpCreateFile() {
    HANDLE handle = g_create();
    bool opened = handle != INVALID_HANDLE_VALUE && handle != nullptr;
    if (opened && g_echoCalls.sendEcho2 && g_echoCalls.parseReplies) {
        auto channel =
            std::make_shared<EchoChannel>(std::make_unique<SystemEchoTransport>(handle, g_echoCalls), Random16);
        std::lock_guard lock(g_mutex);
        g_channels[handle] = std::move(channel);
    }
    Traces().EchoChannelOpened(opened);
    return handle;
}

BOOL WINAPI RecordedIcmpCloseHandle(HANDLE handle) {
    std::shared_ptr<EchoChannel> channel;
    {
        std::lock_guard lock(g_mutex);
        if (auto it = g_channels.find(handle); it != g_channels.end()) {
            channel = std::move(it->second);
            g_channels.erase(it);
        }
    }
    // The handle first: the system then ends the requests still in flight, which the channel's
    // transport waits for as it goes.
    BOOL closed = g_close(handle);
    channel.reset();
    Traces().EchoChannelClosed();
    return closed;
}

DWORD WINAPI BoundedIcmpSendEcho(HANDLE handle, DWORD destination, LPVOID data, WORD size, LPVOID options, LPVOID reply,
                                 DWORD replySize, DWORD timeout) {
    return SendBoundedEcho(
        {destination, options, size, reply, replySize, timeout}, [&](uint32_t waitMs, uint8_t lastTtl) {
            // A trace with a last hop probes ahead through the handle's channel. The window's trace,
            // one probe after another, keeps the system's own call: in its window thread's process
            // the asynchronous call has been seen to crash inside the system under wine.
            if (auto channel = lastTtl ? FindChannel(handle) : nullptr)
                return SendEchoRequest(*channel, {destination, data, size, options, reply, replySize, waitMs}, lastTtl);
            // Otherwise one probe per request, which the trace's last hop bounds alone.
            return uint32_t(g_sendEcho(handle, destination, data, size, options, reply, replySize, waitMs));
        });
}

void *WINAPI RecordedGethostbyname(const char *name) {
    void *host = g_hostByName(name);
    Traces().HostLookedUp(name, reinterpret_cast<uintptr_t>(host));
    return host;
}

template <typename Fn> void Take(FARPROC found, Fn &function) {
    function = reinterpret_cast<Fn>(reinterpret_cast<void *>(found));
}

// The calls whose answers the trace's records take, in the place of the system's functions.
template <typename Fn> void *Recorded(FARPROC found, Fn &original, void *recorded) {
    Take(found, original);
    return recorded;
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
    if (!found) return nullptr;
    if (name == "IcmpCreateFile") {
        // The same module's asynchronous echo call serves the handles it opens.
        Take(::GetProcAddress(module, "IcmpSendEcho2"), g_echoCalls.sendEcho2);
        Take(::GetProcAddress(module, "IcmpParseReplies"), g_echoCalls.parseReplies);
        return Recorded(found, g_create, reinterpret_cast<void *>(&RecordedIcmpCreateFile));
    }
    if (name == "IcmpCloseHandle") return Recorded(found, g_close, reinterpret_cast<void *>(&RecordedIcmpCloseHandle));
    if (name == "IcmpSendEcho") return Recorded(found, g_sendEcho, reinterpret_cast<void *>(&BoundedIcmpSendEcho));
    if (name == "gethostbyname") return Recorded(found, g_hostByName, reinterpret_cast<void *>(&RecordedGethostbyname));
    return reinterpret_cast<void *>(found);
}

} // namespace rt::platform
