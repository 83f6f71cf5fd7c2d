// ICMP.DLL on Linux: one channel per handle. The program itself never holds a raw socket (it runs
// code the user chooses: Qt plugins, libraries named by the environment). A channel is
//   - an unprivileged datagram ("ping") socket where the system allows them; its Time Exceeded and
//     Destination Unreachable reports arrive on the socket's error queue (IP_RECVERR); or
//   - the ICMP helper, routetrace-icmp, started for the handle: it alone holds a raw socket (and the
//     right to open one), and serves fixed-size echo requests over a socket pair
//     (formats/packet/echo_service.h). It is looked for beside the program, then in the package's
//     folder.
// Every channel draws its echo identifier and first sequence number at random, and takes only an
// answer that carries both.
#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/packet/echo_service.h"
#include "formats/packet/icmp_packet.h"
#include "win32_api.h"

namespace rt::win32 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kMaxData = 65500;
constexpr const char kHelperName[] = "routetrace-icmp";
constexpr const char kPackageHelper[] = "/usr/libexec/routetrace/routetrace-icmp";
// How long a started helper may take to say it is ready, and how long past a request's own timeout
// its answer may take: bounds for a helper that hangs, never reached by one that works.
constexpr int kHelperStartMs = 5000;
constexpr int kHelperGraceMs = 2000;

struct Channel {
    int fd = -1; // the datagram socket, or the program's end of the helper's socket pair
    IcmpSocketKind kind = IcmpSocketKind::Datagram;
    pid_t helper = -1;
    uint16_t identifier = 0; // datagram sockets: the one the socket is bound to
    uint16_t sequence = 0;
    std::mutex busy; // one request at a time per handle
    ~Channel() {
        if (fd >= 0) ::close(fd);
        if (helper > 0) {
            ::kill(helper, SIGKILL); // it may be waiting out a request; nothing of it is needed
            while (::waitpid(helper, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
};

std::atomic<IcmpSocketKind> g_preferred{IcmpSocketKind::Automatic};
std::atomic<uint32_t> g_timeoutCap{0};
std::mutex g_mutex;
std::unordered_map<uint32_t, std::shared_ptr<Channel>> g_channels;
uint32_t g_nextHandle = 1;

uint16_t Random16() {
    uint16_t v = 0;
    while (::getrandom(&v, sizeof v, 0) != sizeof v) {
    }
    return v;
}

// An unprivileged ICMP socket bound to a random identifier (its "port"); -1 where they are closed.
int OpenDatagram(uint16_t &identifier) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return -1;
    int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    for (int attempt = 0; attempt < 16; ++attempt) {
        identifier = Random16();
        if (identifier == 0) continue; // 0 would let the kernel choose
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(identifier);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0) return fd;
        if (errno != EADDRINUSE) break;
    }
    ::close(fd);
    return -1;
}

// The folder of the running program, with its trailing slash.
std::string OwnFolder() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || size_t(n) >= sizeof path) return {};
    std::string self(path, size_t(n));
    return self.substr(0, self.rfind('/') + 1);
}

// Starts the helper at that path on a new socket pair and waits for its first record, which it
// writes once it holds its socket and has given up every other right. -1 when it does not start or
// cannot open its socket (it ends then).
int StartHelper(const std::string &path, pid_t &pid) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return -1;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    char name[] = "routetrace-icmp";
    char *argv[] = {name, nullptr};
    char *envp[] = {nullptr}; // nothing of the user's environment
    int spawned = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (spawned != 0) {
        ::close(pair[0]);
        return -1;
    }
    pollfd p{pair[0], POLLIN, 0};
    uint8_t record[kEchoResponseRecordSize + 1];
    ssize_t n = -1;
    if (::poll(&p, 1, kHelperStartMs) == 1) n = ::recv(pair[0], record, sizeof record, MSG_DONTWAIT);
    auto ready = n > 0 ? DecodeEchoResponse({record, size_t(n)}) : std::nullopt;
    if (ready && ready->status == kEchoServiceReady) return pair[0];
    ::close(pair[0]);
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return -1;
}

// The helper beside the program first (a portable copy brings its own), then the package's.
int OpenHelper(pid_t &pid) {
    std::string folder = OwnFolder();
    if (!folder.empty()) {
        int fd = StartHelper(folder + kHelperName, pid);
        if (fd >= 0) return fd;
    }
    return StartHelper(kPackageHelper, pid);
}

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
std::optional<EchoAnswer> ReceiveOne(int fd, const EchoRequest &request, std::array<uint8_t, 65536> &buffer,
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
    ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
    if (n < 0) return std::nullopt;
    // A truncated datagram is still matched on what arrived; the bounded parsers never read past it.
    std::span<const uint8_t> bytes(buffer.data(), std::min(size_t(n), buffer.size()));

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

// Empties the datagram socket's queues before a send: a late or forged error left there would make
// the send itself fail (the socket reports the pending error instead), and the hop would show silent.
void DrainDatagram(int fd, std::array<uint8_t, 65536> &buffer) {
    for (int queue : {int(MSG_ERRQUEUE), 0}) {
        for (;;) {
            iovec iov{buffer.data(), buffer.size()};
            alignas(cmsghdr) uint8_t control[512];
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            if (::recvmsg(fd, &msg, MSG_DONTWAIT | queue) < 0 && errno != EINTR) break;
        }
    }
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length); // reading it clears it
}

uint32_t SendThroughDatagram(Channel &c, const EchoRequest &request, const uint8_t *options, Clock::time_point deadline,
                             uint8_t *out, uint32_t replySize) {
    if (!ApplyOptions(c.fd, options)) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }
    std::vector<uint8_t> message = BuildEchoRequest(request, request.data);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = request.destination;
    // Not cleared: only the bytes a receive wrote are ever read, and 64 KiB cleared at every hop
    // stood out in the trace's profile.
    auto buffer = std::make_unique_for_overwrite<std::array<uint8_t, 65536>>();
    DrainDatagram(c.fd, *buffer);
    Clock::time_point sent = Clock::now();
    if (::sendto(c.fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }
    for (;;) {
        auto now = Clock::now();
        if (now >= deadline) break;
        int wait = int(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
        pollfd p{c.fd, POLLIN, 0};
        int ready = ::poll(&p, 1, wait);
        if (ready <= 0) continue; // interrupted, or the deadline check above ends the wait
        std::optional<EchoAnswer> answer;
        if (p.revents & POLLERR) answer = ReceiveOne(c.fd, request, *buffer, true);
        if (!answer && (p.revents & POLLIN)) answer = ReceiveOne(c.fd, request, *buffer, false);
        if (!answer) continue;
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
        WriteReply(out, replySize, *answer, uint32_t(elapsed));
        return 1;
    }
    WriteFailure(out, replySize, kIpReqTimedOut);
    return 0;
}

// The helper sends "a" bytes only (what the program's probes carry), at most kEchoServiceMaxData.
bool HelperCanCarry(std::span<const uint8_t> data) {
    return data.size() <= kEchoServiceMaxData && std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 'a'; });
}

uint32_t SendThroughHelper(Channel &c, const EchoRequest &request, const uint8_t *options, uint32_t timeoutMs,
                           uint8_t *out, uint32_t replySize) {
    EchoServiceRequest r;
    r.destination = request.destination;
    r.timeoutMs = std::clamp<uint32_t>(timeoutMs, 1, kEchoServiceMaxTimeoutMs);
    r.dataSize = uint16_t(request.data.size());
    r.ttl = options ? options[kOptionTtl] : 128;
    r.tos = options ? options[kOptionTos] : 0;
    if (c.helper <= 0 || r.ttl == 0 || !HelperCanCarry(request.data)) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }
    uint8_t record[kEchoRequestRecordSize];
    EncodeEchoRequest(r, record);
    std::optional<EchoServiceResponse> response;
    if (::send(c.fd, record, sizeof record, MSG_NOSIGNAL) == ssize_t(sizeof record)) {
        pollfd p{c.fd, POLLIN, 0};
        uint8_t answer[kEchoResponseRecordSize + 1];
        int ready;
        while ((ready = ::poll(&p, 1, int(r.timeoutMs) + kHelperGraceMs)) < 0 && errno == EINTR) {
        }
        ssize_t n = ready == 1 ? ::recv(c.fd, answer, sizeof answer, MSG_DONTWAIT) : -1;
        if (n > 0) response = DecodeEchoResponse({answer, size_t(n)});
    }
    if (!response || response->status == kEchoServiceReady) {
        // A helper that ended or does not answer serves no further request of this handle.
        ::kill(c.helper, SIGKILL);
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }
    if (response->status == kIpReqTimedOut || response->status == kIpGeneralFailure) {
        WriteFailure(out, replySize, response->status);
        return 0;
    }
    EchoAnswer a;
    a.from = response->from;
    a.status = response->status;
    a.ttl = response->ttl;
    a.tos = response->tos;
    if (a.status == kIpSuccess) a.data = request.data; // the helper took only a reply that carried it back
    WriteReply(out, replySize, a, response->roundTripMs);
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
    return c && c->kind == IcmpSocketKind::Datagram ? c->fd : -1;
}

uint32_t IcmpCreateFile() {
    IcmpSocketKind preferred = g_preferred.load();
    auto c = std::make_shared<Channel>();
    if (preferred != IcmpSocketKind::Helper) {
        c->fd = OpenDatagram(c->identifier);
        c->kind = IcmpSocketKind::Datagram;
    }
    if (c->fd < 0 && preferred != IcmpSocketKind::Datagram) {
        c->fd = OpenHelper(c->helper);
        c->kind = IcmpSocketKind::Helper;
    }
    if (c->fd < 0) return 0;
    // The helper draws its own identifier; the first sequence number is random for both.
    c->sequence = Random16();
    std::lock_guard lock(g_mutex);
    uint32_t handle = g_nextHandle++;
    if (g_nextHandle == 0) g_nextHandle = 1;
    g_channels[handle] = std::move(c);
    return handle;
}

int32_t IcmpCloseHandle(uint32_t handle) {
    std::shared_ptr<Channel> closed;
    std::lock_guard lock(g_mutex);
    auto it = g_channels.find(handle);
    if (it == g_channels.end()) return 0;
    closed = std::move(it->second);
    g_channels.erase(it);
    return 1;
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
    if (IsForbiddenEchoDestination(destination)) {
        WriteFailure(out, replySize, kIpBadDestination);
        return 0;
    }
    if (dataSize > kMaxData || (dataSize && !data)) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }
    uint32_t cap = g_timeoutCap.load();
    if (cap) timeoutMs = std::min(cap, timeoutMs);
    std::lock_guard busy(c->busy);
    EchoRequest request{destination, c->identifier, c->sequence++, {static_cast<const uint8_t *>(data), size_t(dataSize)}};
    const auto *optionBytes = static_cast<const uint8_t *>(options);
    if (c->kind == IcmpSocketKind::Helper) return SendThroughHelper(*c, request, optionBytes, timeoutMs, out, replySize);
    return SendThroughDatagram(*c, request, optionBytes, Clock::now() + std::chrono::milliseconds(timeoutMs), out,
                               replySize);
}

} // namespace rt::win32
