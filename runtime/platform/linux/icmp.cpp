// ICMP.DLL on Linux: the handles and their channels. The program itself never holds a raw socket (it
// runs code the user chooses: Qt plugins, libraries named by the environment). A handle's channel
// carries its probes over an unprivileged datagram ICMP socket where the system allows them
// (datagram_transport.h), otherwise through the ICMP helper (helper_transport.h); the channel
// (runtime/platform/echo_channel.h) draws each probe's sequence number at random, and a trace with a
// last hop probes ahead (runtime/platform/probe_scheduler.h); the request and its reply record are
// served as on Windows (runtime/platform/echo_request.h).
#include <sys/random.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "datagram_transport.h"
#include "helper_transport.h"
#include "icmp_handles.h"
#include "runtime/platform/echo_channel.h"
#include "runtime/platform/echo_request.h"
#include "win32_api.h"

namespace rt::platform {
namespace {

using icmp::kIpGeneralFailure;

uint16_t Random16() {
    uint16_t v = 0;
    while (::getrandom(&v, sizeof v, 0) != sizeof v) {}
    return v;
}

struct Channel {
    Channel(IcmpSocketKind k, int s, std::unique_ptr<EchoTransport> transport)
        : kind(k), socket(s), echo(std::move(transport), Random16) {}
    IcmpSocketKind kind;
    int socket; // a datagram channel's socket (for tests); -1 for the helper's
    EchoChannel echo;
};

std::atomic<IcmpSocketKind> g_preferred{IcmpSocketKind::Automatic};
std::atomic<uint32_t> g_timeoutCap{0};
std::mutex g_mutex;
std::unordered_map<uint32_t, std::shared_ptr<Channel>> g_channels;
uint32_t g_nextHandle = 1;

std::shared_ptr<Channel> FindChannel(uint32_t handle) {
    std::lock_guard lock(g_mutex);
    auto it = g_channels.find(handle);
    return it == g_channels.end() ? nullptr : it->second;
}

} // namespace

void SetIcmpSocketKind(IcmpSocketKind kind) { g_preferred.store(kind); }

void SetIcmpTimeoutCap(uint32_t milliseconds) { g_timeoutCap.store(milliseconds); }

IcmpSocketKind IcmpHandleKind(uint32_t handle) {
    auto c = FindChannel(handle);
    return c ? c->kind : IcmpSocketKind::Automatic;
}

int IcmpHandleSocket(uint32_t handle) {
    auto c = FindChannel(handle);
    return c ? c->socket : -1;
}

uint32_t OpenIcmpHandle() {
    IcmpSocketKind preferred = g_preferred.load();
    std::shared_ptr<Channel> c;
    if (preferred != IcmpSocketKind::Helper) {
        if (auto datagram = DatagramTransport::Open(Random16)) {
            int socket = datagram->Socket();
            c = std::make_shared<Channel>(IcmpSocketKind::Datagram, socket, std::move(datagram));
        }
    }
    if (!c && preferred != IcmpSocketKind::Datagram) {
        if (auto helper = HelperTransport::Open())
            c = std::make_shared<Channel>(IcmpSocketKind::Helper, -1, std::move(helper));
    }
    if (!c) return 0;
    std::lock_guard lock(g_mutex);
    uint32_t handle = g_nextHandle++;
    if (g_nextHandle == 0) g_nextHandle = 1;
    g_channels[handle] = std::move(c);
    return handle;
}

int32_t CloseIcmpHandle(uint32_t handle) {
    std::shared_ptr<Channel> closed;
    std::lock_guard lock(g_mutex);
    auto it = g_channels.find(handle);
    if (it == g_channels.end()) return 0;
    closed = std::move(it->second);
    g_channels.erase(it);
    return 1;
}

uint32_t IcmpSendEchoAhead(uint32_t handle, uint32_t destination, const void *data, uint32_t dataSize, void *options,
                           void *reply, uint32_t replySize, uint32_t timeoutMs, uint8_t lastTtl) {
    auto c = FindChannel(handle);
    if (!c) {
        WriteEchoFailure(reply, replySize, kIpGeneralFailure);
        return 0;
    }
    uint32_t cap = g_timeoutCap.load();
    if (cap) timeoutMs = std::min(cap, timeoutMs);
    return SendEchoRequest(c->echo, {destination, data, dataSize, options, reply, replySize, timeoutMs}, lastTtl);
}

uint32_t IcmpHandleProbesSent(uint32_t handle) {
    auto c = FindChannel(handle);
    return c ? c->echo.probesSent.load() : 0;
}

} // namespace rt::platform

namespace rt::win32 {

uint32_t IcmpCreateFile() { return platform::OpenIcmpHandle(); }

int32_t IcmpCloseHandle(uint32_t handle) { return platform::CloseIcmpHandle(handle); }

uint32_t IcmpSendEcho(uint32_t handle, uint32_t destination, const void *data, uint32_t dataSize, void *options,
                      void *reply, uint32_t replySize, uint32_t timeoutMs) {
    return platform::IcmpSendEchoAhead(handle, destination, data, dataSize, options, reply, replySize, timeoutMs, 0);
}

} // namespace rt::win32
