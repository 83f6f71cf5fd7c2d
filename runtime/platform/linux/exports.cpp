// The export table of the three emulated system modules, and the binding of DLL names to it.
#include "runtime/platform/platform.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/text/text.h"
#include "runtime/core/echo_bounds.h"
#include "runtime/core/trace_records.h"
#include "icmp_handles.h"
#include "win32_api.h"

namespace rt::platform {
namespace {

// The echo and resolver commands as the program reaches them: the bounds a front end set apply
// here, and the trace's records hear of every call. A trace with a last hop lets the ICMP layer
// probe the hops ahead of the one asked for; without bounds, each request is one probe, as the
// program asks.
uint32_t RecordedIcmpCreateFile() {
    uint32_t handle = win32::IcmpCreateFile();
    Traces().EchoChannelOpened(handle != 0);
    return handle;
}

int32_t RecordedIcmpCloseHandle(uint32_t handle) {
    int32_t closed = win32::IcmpCloseHandle(handle);
    Traces().EchoChannelClosed();
    return closed;
}

uint32_t BoundedIcmpSendEcho(uint32_t handle, uint32_t destination, const void *data, uint32_t dataSize, void *options,
                             void *reply, uint32_t replySize, uint32_t timeoutMs) {
    return SendBoundedEcho(
        {destination, options, dataSize, reply, replySize, timeoutMs}, [&](uint32_t waitMs, uint8_t lastTtl) {
            return IcmpSendEchoAhead(handle, destination, data, dataSize, options, reply, replySize, waitMs, lastTtl);
        });
}

uintptr_t RecordedGethostbyname(const char *name) {
    uintptr_t host = win32::gethostbyname(name);
    Traces().HostLookedUp(name, host);
    return host;
}

struct Export {
    std::string_view module; // the DLL file name without ".dll"
    std::string_view function;
    void *address;
};

// Built on first use: the direct host binds its DLL commands from a static initialiser in another file.
const std::vector<Export> &Exports() {
    using namespace rt::win32;
    static const std::vector<Export> exports = {
        {"ws2_32", "WSAStartup", reinterpret_cast<void *>(&WSAStartup)},
        {"ws2_32", "WSACleanup", reinterpret_cast<void *>(&WSACleanup)},
        {"ws2_32", "gethostbyname", reinterpret_cast<void *>(&RecordedGethostbyname)},
        {"ws2_32", "inet_addr", reinterpret_cast<void *>(&inet_addr)},
        {"ws2_32", "inet_ntoa", reinterpret_cast<void *>(&inet_ntoa)},
        {"icmp", "IcmpCreateFile", reinterpret_cast<void *>(&RecordedIcmpCreateFile)},
        {"icmp", "IcmpCloseHandle", reinterpret_cast<void *>(&RecordedIcmpCloseHandle)},
        {"icmp", "IcmpSendEcho", reinterpret_cast<void *>(&BoundedIcmpSendEcho)},
        {"kernel32", "RtlMoveMemory", reinterpret_cast<void *>(&RtlMoveMemory)},
        {"kernel32", "GlobalSize", reinterpret_cast<void *>(&GlobalSize)},
        {"kernel32", "lstrlenA", reinterpret_cast<void *>(&lstrlenA)},
        {"kernel32", "lstrcpyA", reinterpret_cast<void *>(&lstrcpyA)},
    };
    return exports;
}

// The module a DLL file name stands for: the name without a ".dll" ending, any letter case.
std::string_view ModuleName(std::string_view dll) {
    if (dll.size() > 4 && EqualsIgnoreCase(dll.substr(dll.size() - 4), ".dll")) dll.remove_suffix(4);
    return dll;
}

} // namespace

void *FindDllFunction(std::string_view dll, std::string_view function) {
    std::string_view module = ModuleName(dll);
    for (const Export &e : Exports())
        if (EqualsIgnoreCase(module, e.module) && function == e.function)
            return e.address; // export names match exactly
    return nullptr;
}

} // namespace rt::platform
