// The DLL commands, as the application calls them. Each one is a thunk (dll_thunks.S) that loads
// the command's index into EAX and jumps to service slot 0x04, which calls the bound function with
// the arguments untouched. Addresses are 64-bit here; addresses stored inside records stay 32-bit.
// On i386 they are the system's functions' own convention: stdcall, the callee takes the arguments off.
#pragma once

#include "rt.h"

extern "C" {
uint32_t RT_STDCALL Dll_inet_addr(TextArg dotted);
uint32_t RT_STDCALL Dll_IcmpCreateFile();
int32_t RT_STDCALL Dll_IcmpCloseHandle(uint32_t handle);
int32_t RT_STDCALL Dll_WSAStartup(uint32_t version, void *wsadata);
uintptr_t RT_STDCALL Dll_gethostbyname(TextArg name);
void RT_STDCALL Dll_RtlMoveMemoryToRecord(void *destination, uintptr_t source, uint32_t length);
void RT_STDCALL Dll_RtlMoveMemoryToInt(int32_t *destination, uintptr_t source, uint32_t length);
void RT_STDCALL Dll_RtlMoveMemoryToAddress(uintptr_t destination, uintptr_t source, uint32_t length);
int32_t RT_STDCALL Dll_WSACleanup();
uint32_t RT_STDCALL Dll_GlobalSize(const void *block);
uint32_t RT_STDCALL Dll_IcmpSendEcho(uint32_t handle, uint32_t destination, const void *data, uint32_t dataSize,
                                     void *options, void *reply, uint32_t replySize, uint32_t timeoutMs);
uintptr_t RT_STDCALL Dll_inet_ntoa(uint32_t address);
int32_t RT_STDCALL Dll_lstrlenA(uintptr_t text);
uintptr_t RT_STDCALL Dll_lstrcpyA(char *destination, uintptr_t source);
}

#if defined(__i386__)
// The table's argument bytes are what each thunk's declaration takes off the i386 stack.
namespace dll_table {
template <typename R, typename... A> constexpr uint32_t StackBytes(R(RT_STDCALL *)(A...)) {
    return (0u + ... + uint32_t((sizeof(A) + 3) / 4 * 4));
}
#define DLL_COMMAND(index, dll, function, thunk, argumentBytes) \
    static_assert(StackBytes(&thunk) == argumentBytes, "the DLL command table's argument bytes of " #thunk);
#include "dll_commands.def"
#undef DLL_COMMAND
} // namespace dll_table
#endif
