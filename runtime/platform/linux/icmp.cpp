// ICMP.DLL on Linux: one channel per handle. The program itself never holds a raw socket (it runs
// code the user chooses: Qt plugins, libraries named by the environment). A channel is
//   - an unprivileged datagram ("ping") socket where the system allows them; its Time Exceeded and
//     Destination Unreachable reports arrive on the socket's error queue (IP_RECVERR); or
//   - the ICMP helper (its file name and package folder given by the product's build), started for the handle: it alone holds a raw socket (and the
//     right to open one), and serves fixed-size echo requests over a socket pair
//     (formats/packet/echo_service.h). It is looked for beside the program, then in the package's
//     folder, and started only from a file that is this user's own to run (io::WhyNotOwn).
// Every channel draws its echo identifier at random, and each probe's sequence number at random
// (none twice in the channel's life: formats/packet/sequence_drawer.h), so a node that sees one
// probe cannot forge an answer to another; only an answer that carries both is taken. (The helper
// does the same for what it sends; the sequence number the program gives it is the request's tag.)
// A helper channel never has more than kEchoServiceMaxOutstanding requests at the helper: past that
// the helper would refuse them.
//
// A trace with a last hop may probe ahead (IcmpSendEchoAhead): asked for time-to-live n, the channel
// also sends the probes for the hops after it, up to kAheadWindow in flight and never past the last
// hop, each with its own sequence number, send time and wait; it files the answers as they come and
// answers the later requests from them. A silent stretch of the path then costs one wait, not one
// per hop. Without a last hop, one probe at a time, exactly as the request asks.
#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/io/io.h"
#include "formats/packet/echo_service.h"
#include "formats/packet/icmp_packet.h"
#include "formats/packet/sequence_drawer.h"
#include "runtime/core/files.h"
#include "win32_api.h"

namespace rt::win32 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kMaxData = 65500;
// The helper's file name and its package's folder come from the product's build, which makes it.
#if !defined(RT_ICMP_HELPER) || !defined(RT_ICMP_HELPER_FOLDER)
#error "the product's build names the ICMP helper (RT_ICMP_HELPER, RT_ICMP_HELPER_FOLDER)"
#endif
// How long a started helper may take to say it is ready, and how long past a request's own timeout
// its answer may take: bounds for a helper that hangs, never reached by one that works.
constexpr int kHelperStartMs = 5000;
constexpr int kHelperGraceMs = 2000;
// Probes in flight at once when probing ahead, as traceroute sends by default.
constexpr unsigned kAheadWindow = 16;
static_assert(kAheadWindow <= kEchoServiceMaxOutstanding, "a trace's window fits at the helper");

// A probe sent ahead of the request that will ask for its answer.
struct Probe {
    uint16_t sequence = 0; // datagram: the echo's sequence number; helper: the request's tag
    uint32_t timeoutMs = 0;
    Clock::time_point sent, deadline;
    std::chrono::system_clock::time_point sentWall; // to compare with the kernel's arrival stamp
    bool done = false;                              // its answer came, or none will be taken
    uint32_t status = kIpReqTimedOut;               // when done: the answer's, or why there is none
    EchoAnswer answer;                              // when answered (an echo reply carried the window's data back)
    uint32_t roundTripMs = 0;
};

// The probes of one trace by time-to-live: sent and not yet asked for.
struct Window {
    bool open = false;
    uint32_t destination = 0;
    std::vector<uint8_t> data;
    uint8_t tos = 0, flags = 0;
    uint8_t lastTtl = 0;
    unsigned nextTtl = 0;        // the first time-to-live not yet sent
    bool targetAnswered = false; // nothing more is sent ahead
    std::map<uint8_t, Probe> probes;
};

// What a receive on the datagram socket reads into: the message (up to the largest datagram) and the
// kernel's control messages. One per datagram channel, used under its lock; never cleared, since only
// what a receive wrote is read.
struct ReceiveBuffers {
    std::array<uint8_t, 65536> bytes;
    alignas(cmsghdr) std::array<uint8_t, 512> control;
};

struct Channel {
    int fd = -1; // the datagram socket, or the program's end of the helper's socket pair
    IcmpSocketKind kind = IcmpSocketKind::Datagram;
    pid_t helper = -1;
    uint16_t identifier = 0;                 // datagram sockets: the one the socket is bound to
    SequenceDrawer sequences;                // under busy; datagram: the echoes' sequence numbers; helper: the tags
    unsigned atHelper = 0;                   // under busy; requests handed to the helper and not yet answered
    bool helperBroken = false;               // under busy; the helper was abandoned
    std::mutex busy;                         // one request at a time per handle
    Window window;                           // under busy
    std::unique_ptr<ReceiveBuffers> receive; // datagram channels; under busy
    std::atomic<uint32_t> probesSent{0};
    ~Channel() {
        if (fd >= 0) ::close(fd);
        if (helper > 0) {
            ::kill(helper, SIGKILL); // it may be waiting out a request; nothing of it is needed
            while (::waitpid(helper, nullptr, 0) < 0 && errno == EINTR) {}
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
    while (::getrandom(&v, sizeof v, 0) != sizeof v) {}
    return v;
}

// An unprivileged ICMP socket bound to a random identifier (its "port"); -1 where they are closed.
int OpenDatagram(uint16_t &identifier) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return -1;
    int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    // The kernel's arrival time: an answer read later than it came still gets its own round trip.
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
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

// Starts the helper on a new socket pair from the descriptor of the file that was checked (nothing
// can be put in its place between the check and the start), and waits for its first record, which
// it writes once it holds its socket and has given up every other right. -1 when it does not start
// or cannot open its socket (it ends then).
int StartHelper(int file, const std::string &name, pid_t &pid) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return -1;
    std::string argv0 = name;
    char *argv[] = {argv0.data(), nullptr};
    char *envp[] = {nullptr}; // nothing of the user's environment
    pid = ::vfork();
    if (pid == 0) { // the child shares the memory until it runs the helper: nothing but these calls
        if (::dup2(pair[1], 0) == 0) ::syscall(SYS_execveat, file, "", argv, envp, AT_EMPTY_PATH);
        ::_exit(127);
    }
    ::close(pair[1]);
    if (pid < 0) {
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
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
    return -1;
}

// Starts the helper at that path when it is there and this user's own to run (another user may have
// put a file of that name beside a copy in a shared folder); a file passed over is said once.
int StartCheckedHelper(const std::string &path, pid_t &pid) {
    int file = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (file < 0 && errno == ELOOP) {
        NotePassedOver(path, "it is a link");
        return -1;
    }
    if (file < 0) return -1;
    struct stat st;
    int fd = -1;
    if (::fstat(file, &st) != 0) {
        NotePassedOver(path, "it cannot be examined");
    } else if (auto why = io::WhyNotOwn(path, &st)) {
        NotePassedOver(path, *why);
    } else {
        fd = StartHelper(file, io::NameOf(path), pid);
    }
    ::close(file);
    return fd;
}

// The helper beside the program first (a portable copy brings its own), then the package's.
int OpenHelper(pid_t &pid) {
    std::string folder = OwnFolder();
    if (!folder.empty()) {
        int fd = StartCheckedHelper(folder + RT_ICMP_HELPER, pid);
        if (fd >= 0) return fd;
    }
    return StartCheckedHelper(RT_ICMP_HELPER_FOLDER "/" RT_ICMP_HELPER, pid);
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

// One message read from the datagram socket, with what the kernel said about it.
struct Arrival {
    std::span<const uint8_t> bytes; // the ICMP message (a reply), or the quoted request (an error)
    uint32_t from = 0;              // a reply's sender; an error's original destination
    uint8_t ttl = 0;
    bool error = false; // from the error queue
    const sock_extended_err *report = nullptr;
    uint32_t offender = 0;
    std::optional<std::chrono::system_clock::time_point> stamp; // when it arrived
};

// Reads one pending message from the socket (not waiting); false when none is there.
bool ReadOne(int fd, bool errorQueue, ReceiveBuffers &r, Arrival &a) {
    std::array<uint8_t, 65536> &buffer = r.bytes;
    sockaddr_in from{};
    iovec iov{buffer.data(), buffer.size()};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = r.control.data();
    msg.msg_controllen = r.control.size();
    ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
    if (n < 0) return false;
    a = {};
    // A truncated datagram is still matched on what arrived; the bounded parsers never read past it.
    a.bytes = {buffer.data(), std::min(size_t(n), buffer.size())};
    a.from = from.sin_addr.s_addr;
    a.error = errorQueue;
    for (cmsghdr *cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm)) {
        if (cm->cmsg_level == SOL_SOCKET && cm->cmsg_type == SO_TIMESTAMPNS &&
            cm->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            timespec t;
            std::memcpy(&t, CMSG_DATA(cm), sizeof t);
            a.stamp =
                std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec)));
        }
        if (cm->cmsg_level != IPPROTO_IP) continue;
        if (cm->cmsg_type == IP_TTL && cm->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int t;
            std::memcpy(&t, CMSG_DATA(cm), sizeof t);
            a.ttl = uint8_t(t);
        } else if (cm->cmsg_type == IP_RECVERR && cm->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err))) {
            a.report = reinterpret_cast<const sock_extended_err *>(CMSG_DATA(cm));
            // The offender's address follows the report when the kernel knows it.
            if (cm->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
                sockaddr_in off;
                std::memcpy(&off, SO_EE_OFFENDER(a.report), sizeof off);
                if (off.sin_family == AF_INET) a.offender = off.sin_addr.s_addr;
            }
        }
    }
    return true;
}

// The answer in a message when it belongs to that request.
std::optional<EchoAnswer> Match(const Arrival &a, const EchoRequest &request) {
    if (a.error) {
        if (!a.report || a.report->ee_origin != SO_EE_ORIGIN_ICMP) return std::nullopt;
        return MatchDatagramError(a.report->ee_type, a.report->ee_code, a.offender, a.from, a.bytes, request);
    }
    auto answer = MatchDatagramReply(a.bytes, a.from, request);
    if (answer) answer->ttl = a.ttl;
    return answer;
}

// Milliseconds from a probe's send to its answer's arrival: the kernel's stamp against the wall clock
// at the send, never more than the monotonic clock has seen pass (the wall clock may be set).
uint32_t RoundTrip(const Arrival &a, Clock::time_point sent, std::chrono::system_clock::time_point sentWall) {
    auto seen = Clock::now() - sent;
    auto took = a.stamp ? std::chrono::duration_cast<Clock::duration>(*a.stamp - sentWall) : seen;
    took = std::clamp<Clock::duration>(took, Clock::duration::zero(), seen);
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
}

// Reading the socket's pending error clears it: a send would otherwise fail with it.
void ClearPendingError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
}

// Empties the datagram socket's queues before a send: a late or forged error left there would make
// the send itself fail (the socket reports the pending error instead), and the hop would show silent.
void DrainDatagram(int fd, ReceiveBuffers &r) {
    Arrival ignored;
    for (bool errorQueue : {true, false})
        while (ReadOne(fd, errorQueue, r, ignored)) {}
    ClearPendingError(fd);
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
    ReceiveBuffers &r = *c.receive;
    DrainDatagram(c.fd, r);
    Clock::time_point sent = Clock::now();
    auto sentWall = std::chrono::system_clock::now();
    if (::sendto(c.fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }
    ++c.probesSent;
    for (;;) {
        auto now = Clock::now();
        if (now >= deadline) break;
        int wait = int(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
        pollfd p{c.fd, POLLIN, 0};
        int ready = ::poll(&p, 1, wait);
        if (ready <= 0) continue; // interrupted, or the deadline check above ends the wait
        Arrival a;
        std::optional<EchoAnswer> answer;
        if ((p.revents & POLLERR) && ReadOne(c.fd, true, r, a)) answer = Match(a, request);
        if (!answer && (p.revents & POLLIN) && ReadOne(c.fd, false, r, a)) answer = Match(a, request);
        if (!answer) continue;
        WriteReply(out, replySize, *answer, RoundTrip(a, sent, sentWall));
        return 1;
    }
    WriteFailure(out, replySize, kIpReqTimedOut);
    return 0;
}

// The helper sends "a" bytes only (what the program's probes carry), at most kEchoServiceMaxData.
bool HelperCanCarry(std::span<const uint8_t> data) {
    return data.size() <= kEchoServiceMaxData &&
           std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 'a'; });
}

// Stops a helper that ended, answered out of turn or does not answer: it serves no further request
// of this handle.
void AbandonHelper(Channel &c) {
    if (c.helper > 0) ::kill(c.helper, SIGKILL);
    c.helperBroken = true;
    for (auto &[ttl, probe] : c.window.probes)
        if (!probe.done) {
            probe.done = true;
            probe.status = kIpGeneralFailure;
        }
}

void CollectHelper(Channel &c, Clock::time_point until);

// Hands one request to the helper under that tag; false when the helper cannot take it. Where the
// channel already has kEchoServiceMaxOutstanding requests there (those of a window it left behind),
// it first waits for their answers: the helper answers each by its own deadline.
bool SendToHelper(Channel &c, uint32_t destination, size_t dataSize, uint8_t ttl, uint32_t timeoutMs, uint16_t tag) {
    Clock::time_point limit = Clock::now() + std::chrono::milliseconds(kEchoServiceMaxTimeoutMs + kHelperGraceMs);
    while (c.atHelper >= kEchoServiceMaxOutstanding) {
        if (c.helperBroken || Clock::now() >= limit) return false;
        CollectHelper(c, limit);
    }
    EchoServiceRequest r;
    r.destination = destination;
    r.timeoutMs = timeoutMs;
    r.dataSize = uint16_t(dataSize);
    r.ttl = ttl;
    r.tag = tag;
    uint8_t record[kEchoRequestRecordSize];
    EncodeEchoRequest(r, record);
    if (::send(c.fd, record, sizeof record, MSG_NOSIGNAL) != ssize_t(sizeof record)) return false;
    ++c.atHelper;
    ++c.probesSent;
    return true;
}

// Waits for the helper's next response, at most until the deadline. Broken: the helper ended or sent
// something other than a response; the caller abandons it.
enum class HelperRead { Response, Nothing, Broken };
HelperRead ReadFromHelper(Channel &c, Clock::time_point deadline, EchoServiceResponse &response) {
    pollfd p{c.fd, POLLIN, 0};
    int wait = int(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count()));
    int ready;
    while ((ready = ::poll(&p, 1, wait)) < 0 && errno == EINTR) {}
    if (ready == 0) return HelperRead::Nothing;
    uint8_t answer[kEchoResponseRecordSize + 1];
    ssize_t n = ready == 1 ? ::recv(c.fd, answer, sizeof answer, MSG_DONTWAIT) : -1;
    if (n < 0 && errno == EAGAIN) return HelperRead::Nothing;
    auto decoded = n > 0 ? DecodeEchoResponse({answer, size_t(n)}) : std::nullopt;
    if (!decoded || decoded->status == kEchoServiceReady) return HelperRead::Broken;
    if (c.atHelper) --c.atHelper; // every request is answered once
    response = *decoded;
    return HelperRead::Response;
}

// A response as the answer it reports: nothing for a timeout or a failure.
std::optional<EchoAnswer> AnswerOf(const EchoServiceResponse &response) {
    if (response.status == kIpReqTimedOut || response.status == kIpGeneralFailure) return std::nullopt;
    EchoAnswer a;
    a.from = response.from;
    a.status = response.status;
    a.ttl = response.ttl;
    a.tos = response.tos;
    return a;
}

uint32_t SendThroughHelper(Channel &c, const EchoRequest &request, const uint8_t *options, uint32_t timeoutMs,
                           uint8_t *out, uint32_t replySize) {
    uint8_t ttl = options ? options[kOptionTtl] : 128;
    uint8_t tos = options ? options[kOptionTos] : 0;
    timeoutMs = std::clamp<uint32_t>(timeoutMs, 1, kEchoServiceMaxTimeoutMs);
    // The helper refuses another type of service than the program's own, 0.
    if (c.helper <= 0 || ttl == 0 || tos != 0 || !HelperCanCarry(request.data)) {
        WriteFailure(out, replySize, kIpGeneralFailure);
        return 0;
    }
    bool sent = SendToHelper(c, request.destination, request.data.size(), ttl, timeoutMs, request.sequence);
    // From the hand-over: waiting for room at the helper does not count.
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs + kHelperGraceMs);
    while (sent) {
        EchoServiceResponse response;
        HelperRead read = ReadFromHelper(c, deadline, response);
        if (read != HelperRead::Response) {
            if (read == HelperRead::Broken || Clock::now() >= deadline) break;
            continue;
        }
        if (response.tag != request.sequence) continue; // for a probe of a trace left behind
        auto answer = AnswerOf(response);
        if (!answer) {
            WriteFailure(out, replySize, response.status);
            return 0;
        }
        if (answer->status == kIpSuccess)
            answer->data = request.data; // the helper took only a reply that carried it back
        WriteReply(out, replySize, *answer, response.roundTripMs);
        return 1;
    }
    AbandonHelper(c);
    WriteFailure(out, replySize, kIpGeneralFailure);
    return 0;
}

// ---- Probing ahead ----

EchoRequest RequestOf(const Channel &c, const Probe &p) {
    return {c.window.destination, c.identifier, p.sequence, c.window.data};
}

// Files an answer under its probe; the target's answer ends the sending ahead.
void File(Window &w, Probe &p, const EchoAnswer &answer, uint32_t roundTripMs) {
    p.done = true;
    p.status = answer.status;
    p.answer = answer;
    p.answer.data = {};
    p.roundTripMs = roundTripMs;
    if (answer.from == w.destination) w.targetAnswered = true;
}

// Reads everything waiting on the datagram socket and files each answer under its probe. Reading the
// error queue empty also clears the error a send would otherwise fail with.
void CollectDatagram(Channel &c) {
    for (bool errorQueue : {true, false}) {
        Arrival a;
        while (ReadOne(c.fd, errorQueue, *c.receive, a)) {
            for (auto &[ttl, p] : c.window.probes) {
                if (p.done) continue;
                auto answer = Match(a, RequestOf(c, p));
                if (!answer) continue;
                uint32_t roundTrip = RoundTrip(a, p.sent, p.sentWall);
                if (roundTrip <= p.timeoutMs) File(c.window, p, *answer, roundTrip); // a late answer counts for nothing
                break;
            }
        }
    }
    ClearPendingError(c.fd);
}

// Reads the helper's responses that are already there and files each under its probe.
void CollectHelper(Channel &c, Clock::time_point until) {
    EchoServiceResponse response;
    for (;;) {
        HelperRead read = ReadFromHelper(c, until, response);
        if (read == HelperRead::Nothing) return;
        if (read == HelperRead::Broken) {
            AbandonHelper(c);
            return;
        }
        for (auto &[ttl, p] : c.window.probes) {
            if (p.done || p.sequence != response.tag) continue;
            p.done = true;
            p.status = response.status;
            if (auto answer = AnswerOf(response)) File(c.window, p, *answer, response.roundTripMs);
            break;
        }
        until = Clock::now(); // the rest only as far as it is already there
    }
}

// Sends the probe for that time-to-live, or files why it could not go.
void SendProbe(Channel &c, uint8_t ttl, uint32_t timeoutMs) {
    Window &w = c.window;
    Probe &p = w.probes[ttl];
    p.sequence = c.sequences.Draw(Random16);
    p.done = true;
    p.status = kIpGeneralFailure;
    if (c.kind == IcmpSocketKind::Helper) {
        p.timeoutMs = std::clamp<uint32_t>(timeoutMs, 1, kEchoServiceMaxTimeoutMs);
        p.sent = Clock::now();
        p.deadline = p.sent + std::chrono::milliseconds(p.timeoutMs);
        if (c.helper <= 0 || w.tos != 0 || !HelperCanCarry(w.data)) return;
        if (!SendToHelper(c, w.destination, w.data.size(), ttl, p.timeoutMs, p.sequence)) {
            AbandonHelper(c);
            return;
        }
        p.sent = Clock::now(); // waiting for room at the helper does not count
        p.deadline = p.sent + std::chrono::milliseconds(p.timeoutMs);
        p.done = false;
        return;
    }
    uint8_t options[3] = {ttl, w.tos, w.flags};
    if (!ApplyOptions(c.fd, options)) return;
    std::vector<uint8_t> message = BuildEchoRequest(RequestOf(c, p), w.data);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = w.destination;
    // An answer to an earlier probe that came meanwhile leaves an error pending on the socket, and the
    // send reports that error instead of sending: the answers are filed, and the send tried again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        p.timeoutMs = timeoutMs;
        p.sent = Clock::now();
        p.sentWall = std::chrono::system_clock::now();
        p.deadline = p.sent + std::chrono::milliseconds(timeoutMs);
        if (::sendto(c.fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) >= 0) {
            p.done = false;
            ++c.probesSent;
            return;
        }
        if (errno != EINTR) CollectDatagram(c);
    }
}

uint32_t SendAhead(Channel &c, const EchoRequest &request, const uint8_t *options, uint32_t timeoutMs, uint8_t lastTtl,
                   uint8_t *out, uint32_t replySize) {
    Window &w = c.window;
    uint8_t ttl = options[kOptionTtl], tos = options[kOptionTos], flags = options[kOptionFlags];
    bool same = w.open && w.destination == request.destination && w.tos == tos && w.flags == flags &&
                w.lastTtl == lastTtl && std::ranges::equal(w.data, request.data);
    if (!same || (!w.probes.contains(ttl) && ttl != w.nextTtl)) { // another trace, or one that went back
        w.probes.clear();
        w.open = true;
        w.destination = request.destination;
        w.data.assign(request.data.begin(), request.data.end());
        w.tos = tos;
        w.flags = flags;
        w.lastTtl = lastTtl;
        w.nextTtl = ttl;
        w.targetAnswered = false;
    }
    if (c.kind == IcmpSocketKind::Helper) CollectHelper(c, Clock::now());
    else CollectDatagram(c);
    // This hop's probe always; the ones after it while the target has not answered, and for the
    // helper while it has room for them (the probes of a window left behind may still be there).
    while (w.nextTtl <= lastTtl && w.nextTtl < unsigned(ttl) + kAheadWindow &&
           (w.nextTtl == ttl ||
            (!w.targetAnswered && (c.kind != IcmpSocketKind::Helper || c.atHelper < kEchoServiceMaxOutstanding)))) {
        SendProbe(c, uint8_t(w.nextTtl), timeoutMs);
        ++w.nextTtl;
    }
    Probe &p = w.probes[ttl];
    while (!p.done) {
        // The helper answers a probe by its own deadline; a helper that does not is abandoned.
        Clock::time_point limit =
            p.deadline + std::chrono::milliseconds(c.kind == IcmpSocketKind::Helper ? kHelperGraceMs : 0);
        auto now = Clock::now();
        if (now >= limit) {
            if (c.kind == IcmpSocketKind::Helper) AbandonHelper(c);
            p.done = true;
            p.status = c.kind == IcmpSocketKind::Helper ? kIpGeneralFailure : kIpReqTimedOut;
            break;
        }
        if (c.kind == IcmpSocketKind::Helper) {
            CollectHelper(c, limit);
            continue;
        }
        pollfd poll{c.fd, POLLIN, 0};
        if (::poll(&poll, 1, int(std::chrono::ceil<std::chrono::milliseconds>(limit - now).count())) > 0)
            CollectDatagram(c);
    }
    Probe done = p;
    w.probes.erase(ttl);
    if (done.status == kIpReqTimedOut || done.status == kIpGeneralFailure) {
        WriteFailure(out, replySize, done.status);
        return 0;
    }
    if (done.status == kIpSuccess) done.answer.data = w.data; // the echo carried the window's data back
    WriteReply(out, replySize, done.answer, done.roundTripMs);
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
        if (c->fd >= 0) c->receive = std::make_unique_for_overwrite<ReceiveBuffers>();
    }
    if (c->fd < 0 && preferred != IcmpSocketKind::Datagram) {
        c->fd = OpenHelper(c->helper);
        c->kind = IcmpSocketKind::Helper;
    }
    if (c->fd < 0) return 0;
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

uint32_t IcmpSendEchoAhead(uint32_t handle, uint32_t destination, const void *data, uint32_t dataSize, void *options,
                           void *reply, uint32_t replySize, uint32_t timeoutMs, uint8_t lastTtl) {
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
    const auto *optionBytes = static_cast<const uint8_t *>(options);
    EchoRequest request{destination, c->identifier, 0, {static_cast<const uint8_t *>(data), size_t(dataSize)}};
    uint8_t ttl = optionBytes ? optionBytes[kOptionTtl] : 0;
    if (lastTtl && ttl && ttl <= lastTtl)
        return SendAhead(*c, request, optionBytes, timeoutMs, lastTtl, out, replySize);
    c->window.open = false; // one probe at a time from here: whatever a window sent is left behind
    request.sequence = c->sequences.Draw(Random16);
    if (c->kind == IcmpSocketKind::Helper)
        return SendThroughHelper(*c, request, optionBytes, timeoutMs, out, replySize);
    return SendThroughDatagram(*c, request, optionBytes, Clock::now() + std::chrono::milliseconds(timeoutMs), out,
                               replySize);
}

uint32_t IcmpSendEcho(uint32_t handle, uint32_t destination, const void *data, uint32_t dataSize, void *options,
                      void *reply, uint32_t replySize, uint32_t timeoutMs) {
    return IcmpSendEchoAhead(handle, destination, data, dataSize, options, reply, replySize, timeoutMs, 0);
}

uint32_t IcmpHandleProbesSent(uint32_t handle) {
    auto c = FindChannel(handle);
    return c ? c->probesSent.load() : 0;
}

} // namespace rt::win32
