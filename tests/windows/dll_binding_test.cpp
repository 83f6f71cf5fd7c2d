// The DLL commands bound to the system's own modules, and called with the system's convention.
#include <windows.h>

#include <cstring>

#include <gtest/gtest.h>

#include "contract/dll.h"
#include "runtime/platform/platform.h"
#include "runtime/platform/windows/system_dll.h"

namespace {

// The bound function of a thunk's command, with the thunk's own type (stdcall).
template <typename Fn> Fn Bound(const char *dll, const char *function) {
    return reinterpret_cast<Fn>(rt::platform::FindDllFunction(dll, function));
}

} // namespace

TEST(WindowsDllCommands, EveryCommandBindsToTheSystemsModuleByName) {
#define DLL_COMMAND(index, dll, function, thunk, argumentBytes) \
    EXPECT_NE(rt::platform::FindDllFunction(dll, function), nullptr) << index << " " << dll << "!" << function;
#include "contract/dll_commands.def"
#undef DLL_COMMAND
    EXPECT_EQ(rt::platform::FindDllFunction("ws2_32.dll", "inet_ADDR"), nullptr) << "export names match exactly";
    EXPECT_EQ(rt::platform::FindDllFunction("nosuch.dll", "inet_addr"), nullptr);
}

// A loader without the system-folder search flag (Windows 7 before its 2011 update) gets each module
// by its full path in the system folder: the very module the search finds.
TEST(WindowsDllCommands, WithoutTheSystemSearchEachModuleLoadsByItsPathInTheSystemFolder) {
    wchar_t folder[MAX_PATH];
    UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
    EXPECT_EQ(rt::platform::SystemDllPath("kernel32"), std::wstring(folder, n) + L"\\kernel32.dll");
#define DLL_COMMAND(index, dll, function, thunk, argumentBytes)           \
    {                                                                     \
        HMODULE byPath = rt::platform::LoadSystemDll(dll, false);         \
        EXPECT_NE(byPath, nullptr) << dll;                                \
        EXPECT_EQ(byPath, rt::platform::LoadSystemDll(dll, true)) << dll; \
    }
#include "contract/dll_commands.def"
#undef DLL_COMMAND
    for (const char *notAName : {"..\\ws2_32.dll", "C:ws2_32.dll", "sub/ws2_32.dll", "", ".."}) {
        EXPECT_EQ(rt::platform::LoadSystemDll(notAName, false), nullptr) << notAName;
        EXPECT_EQ(rt::platform::LoadSystemDll(notAName, true), nullptr) << notAName;
    }
}

TEST(WindowsDllCommands, TheBoundFunctionsAnswerAsTheProgramCallsThem) {
    uint8_t wsadata[512] = {};
    ASSERT_EQ(Bound<decltype(&Dll_WSAStartup)>("ws2_32.dll", "WSAStartup")(0x0202, wsadata), 0);
    uint32_t address = Bound<decltype(&Dll_inet_addr)>("ws2_32.dll", "inet_addr")("192.0.2.1");
    EXPECT_EQ(address, 0x010200C0u);
    uintptr_t dotted = Bound<decltype(&Dll_inet_ntoa)>("ws2_32.dll", "inet_ntoa")(address);
    EXPECT_EQ(Bound<decltype(&Dll_lstrlenA)>("kernel32.dll", "lstrlenA")(dotted), 9);
    char copy[16] = {};
    Bound<decltype(&Dll_lstrcpyA)>("kernel32.dll", "lstrcpyA")(copy, dotted);
    EXPECT_STREQ(copy, "192.0.2.1");
    int32_t moved = 0;
    uint32_t source = 0x11223344;
    Bound<decltype(&Dll_RtlMoveMemoryToInt)>("kernel32", "RtlMoveMemory")(&moved, uintptr_t(&source), 4);
    EXPECT_EQ(uint32_t(moved), source);
    HGLOBAL block = ::GlobalAlloc(GMEM_FIXED, 40);
    EXPECT_GE(Bound<decltype(&Dll_GlobalSize)>("kernel32", "GlobalSize")(block), 40u);
    ::GlobalFree(block);

    // One echo to loopback through the real IcmpSendEcho: one reply, from loopback, status 0.
    uint32_t icmp = Bound<decltype(&Dll_IcmpCreateFile)>("ICMP.DLL", "IcmpCreateFile")();
    ASSERT_NE(icmp, uint32_t(uintptr_t(INVALID_HANDLE_VALUE)));
    char data[32] = "routetrace";
    uint8_t options[8] = {64, 0, 0, 0}; // TTL 64
    uint8_t reply[256] = {};
    uint32_t replies = Bound<decltype(&Dll_IcmpSendEcho)>("ICMP.DLL", "IcmpSendEcho")(
        icmp, Bound<decltype(&Dll_inet_addr)>("ws2_32.dll", "inet_addr")("127.0.0.1"), data, sizeof data, options,
        reply, sizeof reply, 2000);
    EXPECT_EQ(replies, 1u);
    uint32_t from, status;
    std::memcpy(&from, reply, 4);
    std::memcpy(&status, reply + 4, 4);
    EXPECT_EQ(from, 0x0100007Fu);
    EXPECT_EQ(status, 0u);
    EXPECT_NE(Bound<decltype(&Dll_IcmpCloseHandle)>("ICMP.DLL", "IcmpCloseHandle")(icmp), 0);
    EXPECT_EQ(Bound<decltype(&Dll_WSACleanup)>("ws2_32.dll", "WSACleanup")(), 0);
}
