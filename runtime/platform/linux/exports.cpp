// The export table of the three emulated system modules, and the binding of DLL names to it.
#include "runtime/platform/platform.h"

#include <vector>

#include "formats/text/text.h"
#include "win32_api.h"

namespace rt::platform {
namespace {

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
    {"ws2_32", "gethostbyname", reinterpret_cast<void *>(&gethostbyname)},
    {"ws2_32", "inet_addr", reinterpret_cast<void *>(&inet_addr)},
    {"ws2_32", "inet_ntoa", reinterpret_cast<void *>(&inet_ntoa)},
    {"icmp", "IcmpCreateFile", reinterpret_cast<void *>(&IcmpCreateFile)},
    {"icmp", "IcmpCloseHandle", reinterpret_cast<void *>(&IcmpCloseHandle)},
    {"icmp", "IcmpSendEcho", reinterpret_cast<void *>(&IcmpSendEcho)},
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
        if (EqualsIgnoreCase(module, e.module) && function == e.function) return e.address; // export names match exactly
    return nullptr;
}

} // namespace rt::platform
