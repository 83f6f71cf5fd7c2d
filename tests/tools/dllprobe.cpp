// Calls the DLL commands through the direct host from the command line, for the namespace tests:
//   dllprobe echo DEST TTL TIMEOUT_MS [SIZE] [helper|datagram] [noise|stale-error]
//   dllprobe trace DEST LAST TIMEOUT_MS [helper|datagram [again HOP]]
//   dllprobe resolve NAME
// "noise" pings DEST from a second handle (another identifier) all the while the probe waits.
// "stale-error" first sends a request with time-to-live 1 that it does not wait for, and waits until
// the router's Time Exceeded is queued on the datagram socket, unread, before the probe itself.
// "trace" asks for time-to-live 1, 2, 3 ... as the program's trace does, under the bounds a report
// sets (that wait, LAST the last hop), until the destination answers; it prints each hop and how
// many echo requests the handle had sent when that hop's answer was given. With "again HOP" it starts
// over from time-to-live 1 on the same handle once that hop is answered (printing "again"), leaving
// the probes it sent ahead behind.
#include <arpa/inet.h>
#include <poll.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "contract/dll.h"
#include "runtime/core/echo_bounds.h"
#include "runtime/host/host.h"
#include "runtime/platform/linux/icmp_handles.h"
#include "runtime/platform/linux/win32_api.h"

namespace platform = rt::platform;
namespace win32 = rt::win32;

namespace {

int Echo(int argc, char **argv) {
    if (argc < 5) return 2;
    uint32_t destination = Dll_inet_addr(argv[2]);
    uint8_t options[11] = {uint8_t(std::atoi(argv[3]))};
    uint32_t timeout = uint32_t(std::atoi(argv[4]));
    uint32_t size = argc > 5 ? uint32_t(std::atoi(argv[5])) : 32;
    std::string kind = argc > 6 ? argv[6] : "auto";
    bool noise = argc > 7 && std::strcmp(argv[7], "noise") == 0;
    bool staleError = argc > 7 && std::strcmp(argv[7], "stale-error") == 0;
    if (kind == "helper") platform::SetIcmpSocketKind(platform::IcmpSocketKind::Helper);
    if (kind == "datagram") platform::SetIcmpSocketKind(platform::IcmpSocketKind::Datagram);

    uint32_t handle = Dll_IcmpCreateFile();
    if (handle == 0) {
        std::printf("result=nohandle\n");
        return 0;
    }
    std::string data(size, 'a');
    uint8_t reply[295];
    if (staleError) {
        uint8_t ttl1[11] = {1};
        Dll_IcmpSendEcho(handle, destination, data.data(), size, ttl1, reply, sizeof reply, 0);
        pollfd p{platform::IcmpHandleSocket(handle), POLLERR, 0};
        if (p.fd < 0 || ::poll(&p, 1, 5000) != 1) {
            std::printf("result=noerror\n");
            return 0;
        }
    }
    std::atomic<bool> stop{false};
    std::atomic<int> noiseAnswers{0};
    std::thread pinger;
    if (noise) {
        pinger = std::thread([&] {
            uint32_t other = Dll_IcmpCreateFile();
            uint8_t ttl64[11] = {64};
            uint8_t noiseReply[128];
            while (!stop) {
                if (Dll_IcmpSendEcho(other, destination, "aaaaa", 5, ttl64, noiseReply, sizeof noiseReply, 200) == 1)
                    ++noiseAnswers;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            Dll_IcmpCloseHandle(other);
        });
    }
    uint32_t n = Dll_IcmpSendEcho(handle, destination, data.data(), size, options, reply, sizeof reply, timeout);
    stop = true;
    if (pinger.joinable()) pinger.join();
    uint32_t address, status, rtt;
    std::memcpy(&address, reply + rt::kReplyAddress, 4);
    std::memcpy(&status, reply + rt::kReplyStatus, 4);
    std::memcpy(&rtt, reply + rt::kReplyRoundTripTime, 4);
    const char *k = platform::IcmpHandleKind(handle) == platform::IcmpSocketKind::Helper ? "helper" : "datagram";
    std::printf("result=%u address=%s status=%u rtt=%u kind=%s noise=%d\n", n,
                reinterpret_cast<const char *>(Dll_inet_ntoa(address)), status, rtt, k, noiseAnswers.load());
    Dll_IcmpCloseHandle(handle);
    return 0;
}

int Trace(int argc, char **argv) {
    if (argc < 5) return 2;
    uint32_t destination = Dll_inet_addr(argv[2]);
    uint32_t last = uint32_t(std::atoi(argv[3]));
    std::string kind = argc > 5 ? argv[5] : "auto";
    if (kind == "helper") platform::SetIcmpSocketKind(platform::IcmpSocketKind::Helper);
    if (kind == "datagram") platform::SetIcmpSocketKind(platform::IcmpSocketKind::Datagram);
    uint32_t again = argc > 7 && std::strcmp(argv[6], "again") == 0 ? uint32_t(std::atoi(argv[7])) : 0;
    rt::SetEchoBounds({uint32_t(std::atoi(argv[4])), last});
    uint32_t handle = Dll_IcmpCreateFile();
    if (handle == 0) {
        std::printf("result=nohandle\n");
        return 0;
    }
    uint8_t reply[295];
    for (uint32_t ttl = 1; ttl <= last; ++ttl) {
        uint8_t options[11] = {uint8_t(ttl)};
        uint32_t n = Dll_IcmpSendEcho(handle, destination, "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 32, options, reply,
                                      sizeof reply, 2400);
        uint32_t address = 0, status = 0;
        std::memcpy(&address, reply + rt::kReplyAddress, 4);
        std::memcpy(&status, reply + rt::kReplyStatus, 4);
        std::printf("hop=%u result=%u address=%s status=%u sent=%u\n", ttl, n,
                    n ? reinterpret_cast<const char *>(Dll_inet_ntoa(address)) : "*", status,
                    platform::IcmpHandleProbesSent(handle));
        if (n == 1 && address == destination) break;
        if (ttl == again) {
            std::printf("again\n");
            again = ttl = 0;
        }
    }
    Dll_IcmpCloseHandle(handle);
    return 0;
}

int Resolve(int argc, char **argv) {
    if (argc < 3) return 2;
    uint8_t wsadata[400];
    if (Dll_WSAStartup(0x0101, wsadata) != 0) return 1;
    uintptr_t host = Dll_gethostbyname(argv[2]);
    if (!host) {
        std::printf("notfound\n");
        return 0;
    }
    win32::HostEnt32 record;
    Dll_RtlMoveMemoryToRecord(&record, host, 16);
    int32_t first = 0;
    Dll_RtlMoveMemoryToInt(&first, record.h_addr_list, 4);
    uint32_t address = 0;
    Dll_RtlMoveMemoryToAddress(reinterpret_cast<uintptr_t>(&address), uint32_t(first), 4);
    std::printf("address=%s\n", reinterpret_cast<const char *>(Dll_inet_ntoa(address)));
    Dll_WSACleanup();
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (!rt::host::BindDllCommands()) return 1;
    if (argc > 1 && std::strcmp(argv[1], "echo") == 0) return Echo(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "trace") == 0) return Trace(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "resolve") == 0) return Resolve(argc, argv);
    std::fprintf(stderr, "usage: dllprobe echo DEST TTL TIMEOUT [SIZE] [helper|datagram] [noise|stale-error]\n"
                         "       dllprobe trace DEST LAST TIMEOUT [helper|datagram] | resolve NAME\n");
    return 2;
}
