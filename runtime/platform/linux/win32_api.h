// The system functions that the image calls as DLL commands, emulated on Linux.
//
// Signatures follow the image's declarations (contract/dll.h) under the SysV calling convention.
// Records that the image reads field by field keep the 32-bit Windows layout: the hostent that
// gethostbyname returns, and the ICMP_ECHO_REPLY that IcmpSendEcho writes.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/core/echo_records.h"

namespace rt::win32 {

// ---- ws2_32.dll --------------------------------------------------------------------------------
inline constexpr int32_t kWsaVersionNotSupported = 10092; // WSAVERNOTSUPPORTED
inline constexpr int32_t kWsaNotInitialised = 10093;      // WSANOTINITIALISED
inline constexpr uint32_t kInaddrNone = 0xFFFFFFFF;

// Bytes of WSADATA that WSAStartup writes: wVersion, wHighVersion, szDescription[257],
// szSystemStatus[129], iMaxSockets, iMaxUdpDg. The vendor-info pointer behind them is not written,
// so a caller's packed copy of the record (398 bytes) is never overrun.
inline constexpr uint32_t kWsaDataWritten = 394;

int32_t WSAStartup(uint32_t version, void *wsadata);
int32_t WSACleanup();
// A per-thread hostent in the 32-bit layout (below 2 GiB), or 0 when the name does not resolve.
uintptr_t gethostbyname(const char *name);
uint32_t inet_addr(const char *dotted);
// The dotted text of an address in network byte order, in a per-thread buffer.
uintptr_t inet_ntoa(uint32_t address);

// The 16-byte hostent of 32-bit Windows.
struct HostEnt32 {
    uint32_t h_name;
    uint32_t h_aliases;
    int16_t h_addrtype;
    int16_t h_length;
    uint32_t h_addr_list;
};
static_assert(sizeof(HostEnt32) == 16);

// ---- ICMP.DLL ----------------------------------------------------------------------------------
// The option record and the reply: runtime/core/echo_records.h.

// 0 when no ICMP socket can be opened.
uint32_t IcmpCreateFile();
int32_t IcmpCloseHandle(uint32_t handle);
// Sends one echo request and waits at most timeoutMs for the answer that belongs to it: an echo reply
// from the destination, or a Time Exceeded or Destination Unreachable that quotes the request.
// Returns 1 with the reply written, 0 on timeout or error; never writes past replySize. Through the
// helper the data must be "a" bytes (at most kEchoServiceMaxData of them), as the program's are.
// (Which channel a handle opens, and probing ahead: icmp_handles.h.)
uint32_t IcmpSendEcho(uint32_t handle, uint32_t destination, const void *data, uint32_t dataSize, void *options,
                      void *reply, uint32_t replySize, uint32_t timeoutMs);

// ---- kernel32 ----------------------------------------------------------------------------------
void RtlMoveMemory(uintptr_t destination, uintptr_t source, uint32_t length);
uint32_t GlobalSize(const void *block);
int32_t lstrlenA(uintptr_t text);
uintptr_t lstrcpyA(char *destination, uintptr_t source);

} // namespace rt::win32
