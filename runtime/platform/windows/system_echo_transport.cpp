#include "system_echo_transport.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/echo_records.h"

namespace rt::platform {
namespace {

using icmp::kIpGeneralFailure;
using icmp::kIpReqTimedOut;

// Room in a reply buffer beyond the reply record and the echoed data: an ICMP error's 8 bytes, IP
// options the answer may carry, and the I/O status block the asynchronous call keeps there.
constexpr size_t kReplySlack = 256;

uint32_t GetU32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Milliseconds from now until `until`, rounded up (a wait that ends early would see nothing new).
DWORD MillisecondsUntil(EchoClock::time_point now, EchoClock::time_point until) {
    if (until <= now) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    return DWORD(std::min<int64_t>(ms, 0x7FFFFFFF));
}

} // namespace

SystemEchoTransport::~SystemEchoTransport() {
    for (Pending &p : pending_) {
        auto deadline = p.sent + std::chrono::milliseconds(uint64_t(p.timeoutMs) + kGraceMs);
        if (::WaitForSingleObject(p.event, MillisecondsUntil(Now(), deadline)) != WAIT_OBJECT_0)
            (void)p.reply.release(); // the system may still write it: it stays allocated
        ::CloseHandle(p.event);
    }
}

std::optional<EchoClock::time_point> SystemEchoTransport::Send(const EchoProbe &probe) {
    // Every event must fit in one wait: a full set waits for its first request to end.
    while (!broken_ && pending_.size() >= kMaxInFlight) {
        auto last = pending_.front().sent;
        for (const Pending &p : pending_) last = std::max(last, p.sent + std::chrono::milliseconds(p.timeoutMs));
        if (!WaitForOne(MillisecondsUntil(Now(), last + std::chrono::milliseconds(kGraceMs)))) broken_ = true;
    }
    if (broken_) return std::nullopt;
    Pending p;
    p.event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!p.event) return std::nullopt;
    p.replySize = DWORD(kReplyHeaderSize + probe.data.size() + kReplySlack);
    p.reply = std::make_unique<uint64_t[]>((p.replySize + 7) / 8);
    p.sequence = probe.sequence;
    p.timeoutMs = probe.timeoutMs;
    // IP_OPTION_INFORMATION without IP options.
    uint8_t options[8] = {};
    options[kOptionTtl] = probe.ttl;
    options[kOptionTos] = probe.tos;
    options[kOptionFlags] = probe.flags;
    p.sent = Now();
    // The system copies the request's data and options before it returns.
    DWORD n =
        calls_.sendEcho2(icmp_, p.event, nullptr, nullptr, probe.destination, const_cast<uint8_t *>(probe.data.data()),
                         WORD(probe.data.size()), options, p.reply.get(), p.replySize, probe.timeoutMs);
    DWORD error = ::GetLastError();
    if (n == 0 && error == ERROR_IO_PENDING) {
        pending_.push_back(std::move(p));
        return pending_.back().sent;
    }
    ::CloseHandle(p.event);
    if (n == 0) return std::nullopt; // refused: nothing went
    heard_.push_back(Read(p));       // answered at once
    return p.sent;
}

std::optional<EchoHeard> SystemEchoTransport::Receive(EchoClock::time_point until) {
    // Requests left behind end here too, unseen; each wait is cut to what is left of it.
    while (heard_.empty() && !broken_) {
        DWORD ms = MillisecondsUntil(Now(), until);
        if (pending_.empty()) {
            if (ms) ::Sleep(ms);
            break;
        }
        if (!WaitForOne(ms)) break;
    }
    if (heard_.empty()) return std::nullopt;
    EchoHeard heard = heard_.front();
    heard_.pop_front();
    return heard;
}

void SystemEchoTransport::Forget() {
    for (Pending &p : pending_) p.forgotten = true;
    heard_.clear();
}

EchoHeard SystemEchoTransport::Read(Pending &p) const {
    DWORD replies = calls_.parseReplies(p.reply.get(), p.replySize);
    const auto *r = reinterpret_cast<const uint8_t *>(p.reply.get());
    EchoHeard heard;
    heard.sequence = p.sequence;
    uint32_t status = GetU32(r + kReplyStatus);
    if (replies == 0) {
        // No answer: the wait ran out, or the system could not send it.
        heard.status = status == kIpReqTimedOut ? kIpReqTimedOut : kIpGeneralFailure;
        return heard;
    }
    heard.status = status;
    heard.answer = {
        GetU32(r + kReplyAddress), status, r[kReplyOptions + kOptionTtl], r[kReplyOptions + kOptionTos], {}};
    heard.roundTripMs = GetU32(r + kReplyRoundTripTime);
    return heard;
}

void SystemEchoTransport::Finish(size_t index) {
    Pending p = std::move(pending_[index]);
    pending_.erase(pending_.begin() + std::ptrdiff_t(index));
    EchoHeard heard = Read(p);
    ::CloseHandle(p.event);
    if (!p.forgotten) heard_.push_back(heard);
}

bool SystemEchoTransport::WaitForOne(DWORD ms) {
    HANDLE events[kMaxInFlight] = {};
    DWORD n = DWORD(std::min<size_t>(pending_.size(), kMaxInFlight));
    for (DWORD i = 0; i < n; ++i) events[i] = pending_[i].event;
    DWORD w = ::WaitForMultipleObjects(n, events, FALSE, ms);
    if (w < WAIT_OBJECT_0 + n) {
        Finish(w - WAIT_OBJECT_0);
        return true;
    }
    if (w != WAIT_TIMEOUT) broken_ = true;
    return false;
}

} // namespace rt::platform
