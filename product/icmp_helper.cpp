// routetrace-icmp: the one piece of the product that may hold a right (cap_net_raw, given by the
// package). It opens a raw ICMP socket, gives up everything else for good, and then serves echo
// requests of the program over the socket pair on its standard input, up to
// kEchoServiceMaxOutstanding of them at once, each answered by its tag as its answer comes or its
// time is up:
//
//   - every capability set emptied (ambient included), the real ids in every slot, no new rights;
//   - a seccomp filter that lets through only reading and writing that socket pair, sending and
//     receiving on the raw socket, polling, the clock and exit; anything else ends the process;
//   - no environment variable and no file is read; the argument list is not looked at;
//   - a request is one fixed-size record (formats/packet/echo_service.h), refused unless every field
//     is in range; the echo carries "a" bytes only, with an identifier and a starting sequence number
//     drawn at random here, and only an answer that quotes or echoes both is taken.
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

using namespace rt::win32;

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
// the raw socket; poll, the clock, exit. Everything else kills the process.
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
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_poll, 10, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_ppoll, 9, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clock_gettime, 8, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_exit, 7, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_exit_group, 6, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_restart_syscall, 5, 0),
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

// A request sent and not yet answered. Its echo carries the helper's identifier and this sequence.
struct Outstanding {
    bool used = false;
    uint16_t tag = 0;
    uint16_t sequence = 0;
    uint32_t destination = 0;
    uint16_t dataSize = 0;
    uint64_t sent = 0, deadline = 0; // milliseconds of the monotonic clock
};
Outstanding g_outstanding[kEchoServiceMaxOutstanding];

EchoRequest EchoOf(const Outstanding &o, uint16_t identifier) {
    return {o.destination, identifier, o.sequence, {g_data, o.dataSize}};
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
    // Time-to-live and type of service go with the message: setsockopt is not among the calls left.
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int)) * 2] = {};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr *cm = CMSG_FIRSTHDR(&msg);
    int values[2] = {r.ttl, r.tos};
    int types[2] = {IP_TTL, IP_TOS};
    for (int i = 0; i < 2; ++i, cm = CMSG_NXTHDR(&msg, cm)) {
        cm->cmsg_level = IPPROTO_IP;
        cm->cmsg_type = types[i];
        cm->cmsg_len = CMSG_LEN(sizeof(int));
        __builtin_memcpy(CMSG_DATA(cm), &values[i], sizeof(int));
    }
    return sendmsg(raw, &msg, 0) >= 0;
}

// Takes one request from the program: sends it and keeps it outstanding, or answers at once when it
// cannot be sent or no room is left. A malformed record is ignored.
void Take(int raw, const uint8_t *record, size_t size, uint16_t identifier, uint16_t &sequence) {
    auto r = DecodeEchoRequest({record, size});
    if (!r) return;
    Outstanding *slot = nullptr;
    for (Outstanding &o : g_outstanding)
        if (!o.used) {
            slot = &o;
            break;
        }
    EchoServiceResponse failed{kIpGeneralFailure, 0, 0, 0, 0, r->tag};
    if (!slot) {
        Answer(failed);
        return;
    }
    Outstanding o{true, r->tag, sequence++, r->destination, r->dataSize, NowMs(), 0};
    o.deadline = o.sent + r->timeoutMs;
    if (!Send(raw, *r, EchoOf(o, identifier))) {
        Answer(failed);
        return;
    }
    *slot = o;
}

// Reads every packet waiting on the raw socket and answers the requests they belong to.
void Receive(int raw, uint16_t identifier) {
    for (;;) {
        ssize_t n = recvfrom(raw, g_received, sizeof g_received, MSG_DONTWAIT, nullptr, nullptr);
        if (n <= 0) return;
        uint64_t now = NowMs();
        for (Outstanding &o : g_outstanding) {
            if (!o.used) continue;
            auto answer = MatchRawPacket({g_received, size_t(n)}, EchoOf(o, identifier));
            if (!answer) continue;
            Answer({answer->status, answer->from, uint32_t(now - o.sent), answer->ttl, answer->tos, o.tag});
            o.used = false;
            break;
        }
    }
}

// Answers every request whose time is up; the milliseconds until the next one's, -1 when none waits.
int Expire() {
    uint64_t now = NowMs(), next = 0;
    for (Outstanding &o : g_outstanding) {
        if (!o.used) continue;
        if (o.deadline <= now) {
            Answer({kIpReqTimedOut, 0, 0, 0, 0, o.tag});
            o.used = false;
        } else if (!next || o.deadline < next) {
            next = o.deadline;
        }
    }
    return next ? int(next - now) : -1;
}

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
    // Identifier and first sequence number: 32 bits that a forger on the path cannot guess.
    uint16_t start[2];
    if (getrandom(start, sizeof start, 0) != sizeof start) return 1;
    if (!DropEverything() || !InstallFilter(raw)) return 1;

    Answer({kEchoServiceReady, 0, 0, 0, 0, 0});
    uint16_t sequence = start[1];
    for (;;) {
        pollfd p[2] = {{kPipe, POLLIN, 0}, {raw, POLLIN, 0}};
        if (poll(p, 2, Expire()) < 0 && errno != EINTR) return 1;
        if (p[1].revents & POLLIN) Receive(raw, start[0]);
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            uint8_t record[kEchoRequestRecordSize + 1]; // one byte more: a longer record is refused
            ssize_t n = read(kPipe, record, sizeof record);
            if (n == 0) return 0;
            if (n < 0 && errno != EINTR && errno != EAGAIN) return 1;
            if (n > 0) Take(raw, record, size_t(n), start[0], sequence);
        }
    }
}
