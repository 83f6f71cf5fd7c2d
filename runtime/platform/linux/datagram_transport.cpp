// The datagram socket's transport: probes go out with the time-to-live, type of service and
// don't-fragment flag of their request; answers are matched by identifier and sequence number, for
// errors through the quoted request header, and timed by the kernel's arrival stamp.
#include "datagram_transport.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "runtime/core/echo_records.h"

namespace rt::platform {

using namespace icmp;

struct DatagramTransport::Buffers {
    std::array<uint8_t, 65536> bytes;
    alignas(cmsghdr) std::array<uint8_t, 512> control;
};

namespace {

using ReceiveBuffers = DatagramTransport::Buffers;

// Applies a probe's time-to-live, type of service and don't-fragment flag to the socket.
bool ApplyOptions(int fd, const EchoProbe &probe) {
    int ttl = probe.ttl, tos = probe.tos;
    int pmtu = probe.flags & kIpFlagDontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
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
uint32_t RoundTrip(const Arrival &a, EchoClock::time_point sent, std::chrono::system_clock::time_point sentWall) {
    auto seen = EchoClock::now() - sent;
    auto took = a.stamp ? std::chrono::duration_cast<EchoClock::duration>(*a.stamp - sentWall) : seen;
    took = std::clamp<EchoClock::duration>(took, EchoClock::duration::zero(), seen);
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
}

// Reading the socket's pending error clears it: a send would otherwise fail with it.
void ClearPendingError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
}

} // namespace

std::unique_ptr<DatagramTransport> DatagramTransport::Open(uint16_t (*random)()) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return nullptr;
    int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    // The kernel's arrival time: an answer read later than it came still gets its own round trip.
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    for (int attempt = 0; attempt < 16; ++attempt) {
        uint16_t identifier = random();
        if (identifier == 0) continue; // 0 would let the kernel choose
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(identifier);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0)
            return std::unique_ptr<DatagramTransport>(new DatagramTransport(fd, identifier));
        if (errno != EADDRINUSE) break;
    }
    ::close(fd);
    return nullptr;
}

DatagramTransport::DatagramTransport(int fd, uint16_t identifier)
    : fd_(fd), identifier_(identifier), buffers_(std::make_unique_for_overwrite<Buffers>()) {}

DatagramTransport::~DatagramTransport() { ::close(fd_); }

std::optional<EchoClock::time_point> DatagramTransport::Send(const EchoProbe &probe) {
    if (!ApplyOptions(fd_, probe)) return std::nullopt;
    std::vector<uint8_t> message =
        BuildEchoRequest({probe.destination, identifier_, probe.sequence, probe.data}, probe.data);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = probe.destination;
    // An answer to an earlier probe that came meanwhile leaves an error pending on the socket, and the
    // send reports that error instead of sending: the answers are collected, and the send tried again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        EchoClock::time_point sent = EchoClock::now();
        auto sentWall = std::chrono::system_clock::now();
        if (::sendto(fd_, message.data(), message.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) >= 0) {
            outstanding_[probe.sequence] = {probe.destination, {probe.data.begin(), probe.data.end()}, sent, sentWall};
            return sent;
        }
        if (errno != EINTR) Collect();
    }
    return std::nullopt;
}

void DatagramTransport::Collect() {
    // Reading the error queue empty also clears the error a send would otherwise fail with.
    for (bool errorQueue : {true, false}) {
        Arrival a;
        while (ReadOne(fd_, errorQueue, *buffers_, a)) {
            for (auto it = outstanding_.begin(); it != outstanding_.end(); ++it) {
                const Outstanding &o = it->second;
                auto answer = Match(a, {o.destination, identifier_, it->first, o.data});
                if (!answer) continue;
                answer->data = {};
                heard_.push_back({it->first, answer->status, *answer, RoundTrip(a, o.sent, o.sentWall)});
                outstanding_.erase(it); // a second copy of the answer matches nothing
                break;
            }
        }
    }
    ClearPendingError(fd_);
}

std::optional<EchoHeard> DatagramTransport::Receive(EchoClock::time_point until) {
    for (;;) {
        if (heard_.empty()) Collect();
        if (!heard_.empty()) {
            EchoHeard heard = heard_.front();
            heard_.pop_front();
            return heard;
        }
        auto now = EchoClock::now();
        if (now >= until) return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, int(std::chrono::ceil<std::chrono::milliseconds>(until - now).count()));
    }
}

void DatagramTransport::Forget() {
    // Empties the socket's queues: a late or forged error left there would make the next send fail
    // (the socket reports the pending error instead), and the hop would show silent.
    outstanding_.clear();
    heard_.clear();
    Arrival ignored;
    for (bool errorQueue : {true, false})
        while (ReadOne(fd_, errorQueue, *buffers_, ignored)) {}
    ClearPendingError(fd_);
}

} // namespace rt::platform
