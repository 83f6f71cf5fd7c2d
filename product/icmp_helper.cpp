// routetrace-icmp: the one piece of the product that may hold a right (cap_net_raw, given by the
// package). It opens a raw ICMP socket, gives up everything else for good, and then serves echo
// requests of the program over the socket pair on its standard input, up to
// kEchoServiceMaxOutstanding of them at once, each answered by its tag as its answer comes or its
// time is up:
//
//   - every capability set emptied (ambient included), the real ids in every slot, no new rights;
//   - a seccomp filter that lets through only reading and writing that socket pair, sending and
//     receiving on the raw socket, polling, the clock, random bytes and exit; anything else ends the
//     process;
//   - no environment variable and no file is read; the argument list is not looked at;
//   - a request is one fixed-size record (formats/packet/echo_service.h), refused unless every field
//     is in range (the type of service is 0); the echo carries "a" bytes only, with an identifier
//     drawn at random here and a sequence number drawn at random for each probe (none twice), and
//     only an answer that quotes or echoes both is taken;
//   - it is no flood tool: one request more than kEchoServiceMaxOutstanding is answered at once with
//     a failure, and probes go out in a burst of kEchoServiceBurst, then one per
//     kEchoServiceIntervalMs; a request that finds no token waits here, in the order requests came,
//     and its round trip and timeout count from its send.
//
// It ends when the program closes its end. Written without the C++ runtime: it links against libc
// alone, so nothing but libc's own code runs beside the socket.
#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <linux/seccomp.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <stddef.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "formats/packet/echo_service.h"
#include "formats/packet/icmp_packet.h"
#include "formats/packet/rate_limiter.h"
#include "formats/packet/sequence_drawer.h"

using namespace rt::icmp;

namespace {

constexpr int kPipe = 0; // the socket pair to the program

// The whole of an ICMP message we might receive: the raw socket hands over the IP header as well.
uint8_t g_received[65536];
uint8_t g_message[kIcmpHeaderSize + kEchoServiceMaxData];
uint8_t g_data[kEchoServiceMaxData];

bool DropEverything() {
    uid_t ruid, euid, suid;
    gid_t rgid, egid, sgid;
    if (getresuid(&ruid, &euid, &suid) != 0 || getresgid(&rgid, &egid, &sgid) != 0) return false;
    if (setresgid(rgid, rgid, rgid) != 0 || setresuid(ruid, ruid, ruid) != 0) return false;
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0) return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    if (syscall(SYS_capset, &header, caps) != 0) return false;
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    // Verified, not assumed.
    if (syscall(SYS_capget, &header, caps) != 0) return false;
    for (const auto &c : caps)
        if (c.effective || c.permitted || c.inheritable) return false;
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_NET_RAW, 0, 0) != 0) return false;
    if (getresuid(&ruid, &euid, &suid) != 0 || euid != ruid || suid != ruid) return false;
    return getresgid(&rgid, &egid, &sgid) == 0 && egid == rgid && sgid == rgid;
}

// The filter: x86-64 system calls only; read and write on the socket pair; sendmsg and recvfrom on
// the raw socket; poll, the clock, getrandom, exit. Everything else kills the process.
bool InstallFilter(int raw) {
#define LOAD(field) BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, field))
#define ALLOW BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)
#define KILL BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS)
    constexpr uint32_t kFirstArgLow = offsetof(seccomp_data, args[0]);
    sock_filter program[] = {
        LOAD(arch),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        KILL,
        LOAD(nr),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000, 0, 1), // the x32 numbers
        KILL,
        // Calls with no descriptor to check.
        // (A jump skips that many instructions: the counts below lead to the ALLOW, the socket pair's
        // check and the raw socket's check.)
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_poll, 11, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_ppoll, 10, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clock_gettime, 9, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_exit, 8, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_exit_group, 7, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_restart_syscall, 6, 0),
        // Random bytes for each probe's sequence number. Harmless: the call reads no file and no
        // state of anyone else's, and only writes into this process's own memory. (A permutation
        // keyed before the filter would avoid it, but a small keyed permutation of 16-bit numbers is
        // weaker and harder to show right than a fresh draw per probe.)
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getrandom, 5, 0),
        // Calls on the socket pair.
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_read, 5, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_write, 4, 0),
        // Calls on the raw socket.
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_sendmsg, 7, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_recvfrom, 6, 0),
        KILL,
        ALLOW,
        // fd == the socket pair (the descriptor's upper half must be zero as well)
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kFirstArgLow + 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 7),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kFirstArgLow),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(kPipe), 4, 5),
        // fd == the raw socket
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kFirstArgLow + 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kFirstArgLow),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(raw), 0, 1),
        ALLOW,
        KILL,
    };
#undef LOAD
#undef ALLOW
#undef KILL
    sock_fprog filter{sizeof program / sizeof program[0], program};
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
}

uint64_t NowMs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

void Answer(const EchoServiceResponse &response) {
    uint8_t record[kEchoResponseRecordSize];
    EncodeEchoResponse(response, record);
    // A program that no longer listens is noticed at the next read.
    (void)!write(kPipe, record, sizeof record);
}

// A request taken and not yet answered: waiting for its turn to be sent, or sent. Its echo carries
// the helper's identifier and the sequence number drawn for it when it was sent.
struct Outstanding {
    bool used = false;
    bool sent = false;
    uint64_t arrival = 0; // the order requests came in: the waiting ones go out in it
    EchoServiceRequest request;
    uint16_t sequence = 0;
    uint64_t sentAt = 0, deadline = 0; // milliseconds of the monotonic clock, once sent
};
Outstanding g_outstanding[kEchoServiceMaxOutstanding];
uint64_t g_arrivals = 0;
RateLimiter g_pace{kEchoServiceBurst, kEchoServiceIntervalMs};
SequenceDrawer g_sequences;

// Straight to the system call (the filter allows it), not through a library's wrapper that might
// use other calls. Bytes that are there once the system has started: the call neither fails nor
// comes back short for two of them.
uint16_t RandomSequence() {
    uint16_t v = 0;
    while (syscall(SYS_getrandom, &v, sizeof v, 0) != long(sizeof v)) {}
    return v;
}

EchoRequest EchoOf(const Outstanding &o, uint16_t identifier) {
    return {o.request.destination, identifier, o.sequence, {g_data, o.request.dataSize}};
}

// Sends the echo request for a request record; false when it could not be sent. Kept out of line so
// that the fill of the data area stays checked when it runs, whatever the caller was seen to check.
__attribute__((noinline)) bool Send(int raw, const EchoServiceRequest &r, const EchoRequest &request) {
    // Every probe carries "a" bytes only, so the requests outstanding share one data area.
    memset(g_data, 'a', r.dataSize); // fortified: a size past g_data would end the process
    size_t size = WriteEchoRequest(request, request.data, g_message);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = r.destination;
    iovec iov{g_message, size};
    // The time-to-live goes with the message: setsockopt is not among the calls left. The type of
    // service stays the socket's own, 0 (a request with another is refused).
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr *cm = CMSG_FIRSTHDR(&msg);
    int ttl = r.ttl;
    cm->cmsg_level = IPPROTO_IP;
    cm->cmsg_type = IP_TTL;
    cm->cmsg_len = CMSG_LEN(sizeof(int));
    __builtin_memcpy(CMSG_DATA(cm), &ttl, sizeof(int));
    return sendmsg(raw, &msg, 0) >= 0;
}

// Takes one request from the program and keeps it outstanding, waiting for its turn to be sent; a
// request past kEchoServiceMaxOutstanding is answered at once. A malformed record is ignored.
void Take(const uint8_t *record, size_t size) {
    auto r = DecodeEchoRequest({record, size});
    if (!r) return;
    for (Outstanding &o : g_outstanding)
        if (!o.used) {
            o = {true, false, g_arrivals++, *r, 0, 0, 0};
            return;
        }
    Answer({kIpGeneralFailure, 0, 0, 0, 0, r->tag});
}

// Sends the waiting requests, first come first, as long as the pace allows; answers at once a request
// that cannot be sent.
void SendWaiting(int raw, uint16_t identifier) {
    for (;;) {
        Outstanding *first = nullptr;
        for (Outstanding &o : g_outstanding)
            if (o.used && !o.sent && (!first || o.arrival < first->arrival)) first = &o;
        if (!first || !g_pace.TryTake(NowMs())) return;
        Outstanding &o = *first;
        o.sequence = g_sequences.Draw(RandomSequence);
        o.sent = true;
        o.sentAt = NowMs();
        o.deadline = o.sentAt + o.request.timeoutMs;
        if (!Send(raw, o.request, EchoOf(o, identifier))) {
            Answer({kIpGeneralFailure, 0, 0, 0, 0, o.request.tag});
            o.used = false;
        }
    }
}

// Milliseconds until the pace lets the next waiting request go; -1 when none waits.
int PaceWait() {
    for (const Outstanding &o : g_outstanding)
        if (o.used && !o.sent) return int(g_pace.WaitMs(NowMs()));
    return -1;
}

// Reads every packet waiting on the raw socket and answers the requests they belong to.
void Receive(int raw, uint16_t identifier) {
    for (;;) {
        ssize_t n = recvfrom(raw, g_received, sizeof g_received, MSG_DONTWAIT, nullptr, nullptr);
        if (n <= 0) return;
        uint64_t now = NowMs();
        for (Outstanding &o : g_outstanding) {
            if (!o.used || !o.sent) continue;
            auto answer = MatchRawPacket({g_received, size_t(n)}, EchoOf(o, identifier));
            if (!answer) continue;
            Answer({answer->status, answer->from, uint32_t(now - o.sentAt), answer->ttl, answer->tos, o.request.tag});
            o.used = false;
            break;
        }
    }
}

// Answers every request sent whose time is up; the milliseconds until the next one's, -1 when none
// waits.
int Expire() {
    uint64_t now = NowMs(), next = 0;
    for (Outstanding &o : g_outstanding) {
        if (!o.used || !o.sent) continue;
        if (o.deadline <= now) {
            Answer({kIpReqTimedOut, 0, 0, 0, 0, o.request.tag});
            o.used = false;
        } else if (!next || o.deadline < next) {
            next = o.deadline;
        }
    }
    return next ? int(next - now) : -1;
}

// The shorter of two poll timeouts (-1: none).
int Sooner(int a, int b) { return a < 0 ? b : b < 0 ? a : a < b ? a : b; }

} // namespace

int main() {
    // Nothing inherited stays open but the socket pair and the standard streams.
    syscall(SYS_close_range, 3u, ~0u, 0u);
    int raw = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (raw < 0) return 1;
    // Only the three kinds of message that can answer an echo request reach the socket.
    icmp_filter filter{};
    filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_TIME_EXCEEDED));
    int dont = IP_PMTUDISC_DONT;
    if (setsockopt(raw, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0 ||
        setsockopt(raw, IPPROTO_IP, IP_MTU_DISCOVER, &dont, sizeof dont) != 0)
        return 1;
    // The identifier: 16 bits that a forger on the path cannot guess, and with each probe's own
    // sequence number, 32 that one who saw another probe cannot guess either.
    uint16_t identifier;
    if (getrandom(&identifier, sizeof identifier, 0) != sizeof identifier) return 1;
    if (!DropEverything() || !InstallFilter(raw)) return 1;

    Answer({kEchoServiceReady, 0, 0, 0, 0, 0});
    for (;;) {
        SendWaiting(raw, identifier);
        pollfd p[2] = {{kPipe, POLLIN, 0}, {raw, POLLIN, 0}};
        if (poll(p, 2, Sooner(Expire(), PaceWait())) < 0 && errno != EINTR) return 1;
        if (p[1].revents & POLLIN) Receive(raw, identifier);
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            uint8_t record[kEchoRequestRecordSize + 1]; // one byte more: a longer record is refused
            ssize_t n = read(kPipe, record, sizeof record);
            if (n == 0) return 0;
            if (n < 0 && errno != EINTR && errno != EAGAIN) return 1;
            if (n > 0) Take(record, size_t(n));
        }
    }
}
