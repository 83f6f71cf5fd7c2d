// icmp_hops TARGET: one echo request per TTL from 1 to 6 through the bound IcmpSendEcho, as the
// trace sends them; prints "TTL ADDRESS STATUS" per answer, and stops at the target's echo reply.
// icmp_hops TARGET LAST_TTL: the same under a report's bounds (a wait of 200 ms, that last hop), so
// the hops after the one asked for are probed ahead: hops 1 to LAST_TTL, then 1 to 3 again (a new
// round, which leaves the old one's probes behind), then the handle is closed with the round's later
// probes in flight and "closed" printed. A hop without an answer prints "TTL * STATUS".
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "contract/dll.h"
#include "runtime/core/echo_bounds.h"
#include "runtime/platform/platform.h"

template <typename Fn> Fn Bound(const char *dll, const char *function) {
    return reinterpret_cast<Fn>(rt::platform::FindDllFunction(dll, function));
}

int main(int argc, char **argv) {
    if (argc != 2 && argc != 3) return 2;
    uint8_t wsadata[512];
    Bound<decltype(&Dll_WSAStartup)>("ws2_32.dll", "WSAStartup")(0x0202, wsadata);
    auto inetAddr = Bound<decltype(&Dll_inet_addr)>("ws2_32.dll", "inet_addr");
    auto inetNtoa = Bound<decltype(&Dll_inet_ntoa)>("ws2_32.dll", "inet_ntoa");
    auto send = Bound<decltype(&Dll_IcmpSendEcho)>("ICMP.DLL", "IcmpSendEcho");
    uint32_t icmp = Bound<decltype(&Dll_IcmpCreateFile)>("ICMP.DLL", "IcmpCreateFile")();
    uint32_t target = inetAddr(argv[1]);
    unsigned lastTtl = argc == 3 ? unsigned(std::atoi(argv[2])) : 0;
    if (lastTtl) rt::SetEchoBounds({200, lastTtl});
    // Returns whether the target answered.
    auto hop = [&](uint8_t ttl) {
        char data[32] = {};
        uint8_t options[8] = {ttl, 0, 0, 0};
        uint8_t reply[256] = {};
        uint32_t n = send(icmp, target, data, sizeof data, options, reply, sizeof reply, 2000);
        uint32_t from, status;
        std::memcpy(&from, reply, 4);
        std::memcpy(&status, reply + 4, 4);
        uint32_t shown = n || lastTtl ? status : 0; // without bounds, as the first version of this test printed
        std::printf("%u %s %u\n", ttl, n ? reinterpret_cast<const char *>(inetNtoa(from)) : "*", shown);
        return n && from == target;
    };
    for (uint8_t ttl = 1; ttl <= (lastTtl ? lastTtl : 6); ++ttl)
        if (hop(ttl)) break;
    if (lastTtl)
        for (uint8_t ttl = 1; ttl <= 3; ++ttl) hop(ttl);
    Bound<decltype(&Dll_IcmpCloseHandle)>("ICMP.DLL", "IcmpCloseHandle")(icmp);
    if (lastTtl) std::puts("closed");
    return 0;
}
