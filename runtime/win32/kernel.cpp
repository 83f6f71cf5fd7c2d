// kernel32: memory copies, block sizes, text length and copy; and the binding of DLL names.
#include <cctype>
#include <cstring>
#include <string>

#include "../runtime.h"
#include "platform.h"

namespace rt::win32 {

void RtlMoveMemory(uintptr_t destination, uintptr_t source, uint32_t length) {
    if (length == 0) return;
    std::memmove(reinterpret_cast<void *>(destination), reinterpret_cast<const void *>(source), length);
}

uint32_t GlobalSize(const void *block) { return uint32_t(Runtime::BlockSize(block)); }

int32_t lstrlenA(uintptr_t text) {
    // Windows answers 0 for a null pointer rather than faulting.
    return text ? int32_t(std::strlen(reinterpret_cast<const char *>(text))) : 0;
}

uintptr_t lstrcpyA(char *destination, uintptr_t source) {
    if (!destination || !source) return 0;
    std::strcpy(destination, reinterpret_cast<const char *>(source));
    return reinterpret_cast<uintptr_t>(destination);
}

namespace {

// The module a DLL file name stands for: lower case, without a ".dll" ending.
std::string ModuleName(std::string_view dll) {
    std::string m;
    for (char c : dll) m += char(std::tolower(static_cast<unsigned char>(c)));
    if (m.size() > 4 && m.compare(m.size() - 4, 4, ".dll") == 0) m.resize(m.size() - 4);
    return m;
}

struct Export {
    const char *module;
    const char *function;
    void *address;
};

const Export kExports[] = {
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

} // namespace

void *FindDllFunction(std::string_view dll, std::string_view function) {
    std::string module = ModuleName(dll);
    for (const Export &e : kExports)
        if (module == e.module && function == e.function) return e.address; // export names match exactly
    return nullptr;
}

} // namespace rt::win32
