// ICMP.DLL on Linux: the handles and their channels. The program itself never holds a raw socket (it
// runs code the user chooses: Qt plugins, libraries named by the environment). A handle's channel
// carries its probes over an unprivileged datagram ICMP socket where the system allows them
// (datagram_transport.h), otherwise through the ICMP helper (helper_transport.h); the channel
// (runtime/platform/echo_channel.h) draws each probe's sequence number at random, and a trace with a
// last hop probes ahead (runtime/platform/probe_scheduler.h). Here the Win32 calls' records are read
// and written.
#include <sys/random.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "datagram_transport.h"
#include "formats/packet/echo_service.h"
#include "helper_transport.h"
#include "icmp_handles.h"
#include "runtime/platform/echo_channel.h"
#include "win32_api.h"

namespace rt::platform {
namespace {

using icmp::EchoAnswer;
using icmp::kIpBadDestination;
using icmp::kIpGeneralFailure;
using icmp::kIpReqTimedOut;
using icmp::kIpSuccess;

constexpr uint32_t kMaxData = 65500;

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

void PutU16(uint8_t *p, uint16_t v) { std::memcpy(p, &v, 2); }
void PutU32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

// Writes ICMP_ECHO_REPLY and as much of the echoed data as fits into the caller's buffer.
void WriteReply(uint8_t *reply, uint32_t replySize, const EchoAnswer &answer, uint32_t roundTrip) {
    if (!reply || replySize < kReplyHeaderSize) return;
    std::memset(reply, 0, kReplyHeaderSize);
    size_t dataRoom = replySize - kReplyHeaderSize;
    size_t dataSize = std::min({answer.data.size(), dataRoom, size_t(0xFFFF)});
    uint8_t *data = reply + kReplyHeaderSize;
    if (dataSize) std::memcpy(data, answer.data.data(), dataSize);
    uintptr_t dataAddress = reinterpret_cast<uintptr_t>(data);
    PutU32(reply + kReplyAddress, answer.from);
    PutU32(reply + kReplyStatus, answer.status);
    PutU32(reply + kReplyRoundTripTime, roundTrip);
    PutU16(reply + kReplyDataSize, uint16_t(dataSize));
    PutU16(reply + kReplyReserved, 1);
    PutU32(reply + kReplyData, dataAddress <= 0xFFFFFFFF ? uint32_t(dataAddress) : 0);
    reply[kReplyOptions + kOptionTtl] = answer.ttl;
    reply[kReplyOptions + kOptionTos] = answer.tos;
}

void WriteFailure(uint8_t *reply, uint32_t replySize, uint32_t status) {
    if (!reply || replySize < kReplyHeaderSize) return;
    std::memset(reply, 0, kReplyHeaderSize);
    PutU32(reply + kReplyStatus, status);
}

// Writes a hop's verdict: the reply with the request's data (an echo reply carried it back), or the
// failure. 1 when there is a reply.
uint32_t WriteResult(const HopResult &result, std::span<const uint8_t> data, uint8_t *out, uint32_t replySize) {
    if (result.status == kIpReqTimedOut || result.status == kIpGeneralFailure) {
        WriteFailure(out, replySize, result.status);
        return 0;
    }
    EchoAnswer answer = result.answer;
    answer.status = result.status;
    if (result.status == kIpSuccess) answer.data = data;
    WriteReply(out, replySize, answer, result.roundTripMs);
    return 1;
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
    auto *out = static_cast<uint8_t *>(reply);
    auto c = FindChannel(handle);
    if (!c) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }
    if (!reply || replySize < kReplyHeaderSize) return 0; // nowhere to put even the status
    if (icmp::IsForbiddenEchoDestination(destination)) {
        WriteFailure(out, replySize, kIpBadDestination);
        return 0;
    }
    if (dataSize > kMaxData || (dataSize && !data)) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }
    uint32_t cap = g_timeoutCap.load();
    if (cap) timeoutMs = std::min(cap, timeoutMs);
    std::span<const uint8_t> bytes{static_cast<const uint8_t *>(data), size_t(dataSize)};
    // Without options: the system's defaults, time-to-live 128.
    const auto *o = static_cast<const uint8_t *>(options);
    EchoProbe probe{destination,
                    uint8_t(o ? o[kOptionTtl] : 128),
                    uint8_t(o ? o[kOptionTos] : 0),
                    uint8_t(o ? o[kOptionFlags] : 0),
                    bytes,
                    0,
                    timeoutMs};
    std::lock_guard busy(c->echo.busy);
    if (o && lastTtl && probe.ttl && probe.ttl <= lastTtl) {
        TraceShape trace{destination, {bytes.begin(), bytes.end()}, probe.tos, probe.flags, lastTtl};
        return WriteResult(SendAhead(c->echo, trace, probe.ttl, timeoutMs), bytes, out, replySize);
    }
    return WriteResult(SendOne(c->echo, probe), bytes, out, replySize);
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
