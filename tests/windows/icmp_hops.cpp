// icmp_hops TARGET: one echo request per TTL from 1 to 6 through the bound IcmpSendEcho, as the
// trace sends them; prints "TTL ADDRESS STATUS" per answer, and stops at the target's echo reply.
#include <cstdio>
#include <cstring>

#include "contract/dll.h"
#include "runtime/platform/platform.h"

template <typename Fn> Fn Bound(const char *dll, const char *function) {
    return reinterpret_cast<Fn>(rt::platform::FindDllFunction(dll, function));
}

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    uint8_t wsadata[512];
    Bound<decltype(&Dll_WSAStartup)>("ws2_32.dll", "WSAStartup")(0x0202, wsadata);
    auto inetAddr = Bound<decltype(&Dll_inet_addr)>("ws2_32.dll", "inet_addr");
    auto inetNtoa = Bound<decltype(&Dll_inet_ntoa)>("ws2_32.dll", "inet_ntoa");
    auto send = Bound<decltype(&Dll_IcmpSendEcho)>("ICMP.DLL", "IcmpSendEcho");
    uint32_t icmp = Bound<decltype(&Dll_IcmpCreateFile)>("ICMP.DLL", "IcmpCreateFile")();
    uint32_t target = inetAddr(argv[1]);
    char data[32] = {};
    for (uint8_t ttl = 1; ttl <= 6; ++ttl) {
        uint8_t options[8] = {ttl, 0, 0, 0};
        uint8_t reply[256] = {};
        uint32_t n = send(icmp, target, data, sizeof data, options, reply, sizeof reply, 2000);
        uint32_t from, status;
        std::memcpy(&from, reply, 4);
        std::memcpy(&status, reply + 4, 4);
        std::printf("%u %s %u\n", ttl, n ? reinterpret_cast<const char *>(inetNtoa(from)) : "*", n ? status : 0);
        if (n && from == target) break;
    }
    Bound<decltype(&Dll_IcmpCloseHandle)>("ICMP.DLL", "IcmpCloseHandle")(icmp);
    return 0;
}
