// ICMP.DLL on Linux: one ICMP socket per handle. A raw socket where the process may open one;
// otherwise an unprivileged datagram ("ping") socket, whose Time Exceeded and Destination
// Unreachable reports arrive on the socket's error queue (IP_RECVERR).
#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "icmp_packet.h"
#include "platform.h"

namespace rt::win32 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kMaxData = 65500;

struct Channel {
    int fd = -1;
    IcmpSocketKind kind = IcmpSocketKind::Raw;
    uint16_t identifier = 0;
    uint16_t sequence = 0;
    std::mutex busy; // one request at a time per handle
    ~Channel() {
        if (fd >= 0) ::close(fd);
    }
};

std::atomic<IcmpSocketKind> g_preferred{IcmpSocketKind::Automatic};
std::atomic<uint32_t> g_timeoutCap{0};
std::mutex g_mutex;
std::unordered_map<uint32_t, std::shared_ptr<Channel>> g_channels;
uint32_t g_nextHandle = 1;

int OpenRaw() {
    int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return -1;
    // Only the three types that can answer an echo request reach us.
    icmp_filter filter{};
    filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_TIME_EXCEEDED));
    ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    return fd;
}

int OpenDatagram() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return -1;
    int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    return fd;
}

std::shared_ptr<Channel> FindChannel(uint32_t handle) {
    std::lock_guard lock(g_mutex);
    auto it = g_channels.find(handle);
    return it == g_channels.end() ? nullptr : it->second;
}

// Addresses an echo request must never go to: unspecified, broadcast, multicast and reserved.
bool IsBadDestination(uint32_t destination) {
    uint32_t host = ntohl(destination);
    return host == 0 || host == 0xFFFFFFFF || (host >> 28) >= 0xE;
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

// Applies the option record (time-to-live, type of service, don't-fragment) to the socket.
bool ApplyOptions(int fd, const uint8_t *options) {
    int ttl = options ? options[kOptionTtl] : 128;
    int tos = options ? options[kOptionTos] : 0;
    int pmtu = options && (options[kOptionFlags] & kIpFlagDontFragment) ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    if (ttl == 0) return false; // a request that could not leave this host
    return ::setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0 &&
           ::setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos) == 0 &&
           ::setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu) == 0;
}

// Reads one pending message from the socket and matches it; nothing when it is not ours.
std::optional<EchoAnswer> ReceiveOne(Channel &c, const EchoRequest &request, std::array<uint8_t, 65536> &buffer,
                                     bool errorQueue) {
    sockaddr_in from{};
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) uint8_t control[512];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(c.fd, &msg, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
    if (n < 0) return std::nullopt;
    // A truncated datagram is still matched on what arrived; the bounded parsers never read past it.
    std::span<const uint8_t> bytes(buffer.data(), std::min(size_t(n), buffer.size()));

    // A raw socket's error queue holds nothing of ours; reading it only clears the report.
    if (c.kind == IcmpSocketKind::Raw) return errorQueue ? std::nullopt : MatchRawPacket(bytes, request);

    uint8_t ttl = 0;
    const sock_extended_err *report = nullptr;
    uint32_t offender = 0;
    for (cmsghdr *cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm)) {
        if (cm->cmsg_level != IPPROTO_IP) continue;
        if (cm->cmsg_type == IP_TTL && cm->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int t;
            std::memcpy(&t, CMSG_DATA(cm), sizeof t);
            ttl = uint8_t(t);
        } else if (cm->cmsg_type == IP_RECVERR && cm->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err))) {
            report = reinterpret_cast<const sock_extended_err *>(CMSG_DATA(cm));
            // The offender's address follows the report when the kernel knows it.
            if (cm->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
                sockaddr_in off;
                std::memcpy(&off, SO_EE_OFFENDER(report), sizeof off);
                if (off.sin_family == AF_INET) offender = off.sin_addr.s_addr;
            }
        }
    }
    std::optional<EchoAnswer> answer;
    if (errorQueue) {
        if (!report || report->ee_origin != SO_EE_ORIGIN_ICMP) return std::nullopt;
        answer = MatchDatagramError(report->ee_type, report->ee_code, offender, from.sin_addr.s_addr, bytes, request);
    } else {
        answer = MatchDatagramReply(bytes, from.sin_addr.s_addr, request);
        if (answer) answer->ttl = ttl;
    }
    return answer;
}

} // namespace

void SetIcmpSocketKind(IcmpSocketKind kind) { g_preferred.store(kind); }
void SetIcmpTimeoutCap(uint32_t milliseconds) { g_timeoutCap.store(milliseconds); }

IcmpSocketKind IcmpHandleKind(uint32_t handle) {
    auto c = FindChannel(handle);
    return c ? c->kind : IcmpSocketKind::Automatic;
}

uint32_t IcmpCreateFile() {
    IcmpSocketKind preferred = g_preferred.load();
    auto c = std::make_shared<Channel>();
    if (preferred != IcmpSocketKind::Datagram) {
        c->fd = OpenRaw();
        c->kind = IcmpSocketKind::Raw;
    }
    if (c->fd < 0 && preferred != IcmpSocketKind::Raw) {
        c->fd = OpenDatagram();
        c->kind = IcmpSocketKind::Datagram;
    }
    if (c->fd < 0) return 0;
    // A random identifier keeps our raw socket's answers apart from other processes' pings.
    if (::getrandom(&c->identifier, sizeof c->identifier, 0) != sizeof c->identifier)
        c->identifier = uint16_t(::getpid());
    std::lock_guard lock(g_mutex);
    uint32_t handle = g_nextHandle++;
    if (g_nextHandle == 0) g_nextHandle = 1;
    g_channels[handle] = std::move(c);
    return handle;
}

int32_t IcmpCloseHandle(uint32_t handle) {
    std::lock_guard lock(g_mutex);
    return g_channels.erase(handle) ? 1 : 0;
}

uint32_t IcmpSendEcho(uint32_t handle, uint32_t destination, const void *data, uint32_t dataSize, void *options,
                      void *reply, uint32_t replySize, uint32_t timeoutMs) {
    auto *out = static_cast<uint8_t *>(reply);
    auto c = FindChannel(handle);
    if (!c) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }
    if (!reply || replySize < kReplyHeaderSize) return 0; // nowhere to put even the status
    if (IsBadDestination(destination)) {
        WriteFailure(out, replySize, kIpBadDestination);
        return 0;
    }
    if (dataSize > kMaxData || (dataSize && !data)) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }
    std::lock_guard busy(c->busy);
    if (!ApplyOptions(c->fd, static_cast<const uint8_t *>(options))) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }

    EchoRequest request{destination, c->identifier, ++c->sequence};
    std::vector<uint8_t> message =
        BuildEchoRequest(request, {static_cast<const uint8_t *>(data), size_t(dataSize)});
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    Clock::time_point sent = Clock::now();
    uint32_t cap = g_timeoutCap.load();
    Clock::time_point deadline = sent + std::chrono::milliseconds(cap ? std::min(cap, timeoutMs) : timeoutMs);
    if (::sendto(c->fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }

    auto buffer = std::make_unique<std::array<uint8_t, 65536>>();
    for (;;) {
        auto now = Clock::now();
        if (now >= deadline) break;
        int wait = int(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
        pollfd p{c->fd, POLLIN, 0};
        int ready = ::poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue; // the deadline check above ends the wait
        std::optional<EchoAnswer> answer;
        if (p.revents & POLLERR) answer = ReceiveOne(*c, request, *buffer, true);
        if (!answer && (p.revents & POLLIN)) answer = ReceiveOne(*c, request, *buffer, false);
        if (!answer) continue;
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
        WriteReply(out, replySize, *answer, uint32_t(elapsed));
        return 1;
    }
    WriteFailure(out, replySize, kIpReqTimedOut);
    return 0;
}

} // namespace rt::win32
