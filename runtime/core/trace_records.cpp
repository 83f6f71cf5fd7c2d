#include "trace_records.h"

#include <algorithm>
#include <cstring>

#include "echo_records.h"
#include "formats/packet/icmp_packet.h"

namespace rt {

namespace {

// The 32-bit records the DLL commands pass, by their fields' offsets.
// hostent: name, aliases (4 bytes each), address type, address length (2 each), address list.
constexpr size_t kHostLength = 10, kHostAddressList = 12, kHostSize = 16;

template <typename T> T Read(const void *at, size_t offset) {
    T v;
    std::memcpy(&v, static_cast<const uint8_t *>(at) + offset, sizeof v);
    return v;
}

AnswerKind KindOf(uint32_t replies, uint32_t status) {
    if (replies != 1) return AnswerKind::None; // the program counts no other number as an answer
    if (status == icmp::kIpSuccess) return AnswerKind::EchoReply;
    if (status == icmp::kIpTtlExpiredTransit) return AnswerKind::TimeExceeded;
    return AnswerKind::OtherError;
}

} // namespace

std::string DottedAddress(uint32_t address) {
    uint8_t b[4];
    std::memcpy(b, &address, 4);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

// What the listeners are told once the lock is released, with the records as they stood.
struct TraceRecorder::Notice {
    enum class Kind { Started, HopStarted, HopCompleted, Ended, Fact } kind;
    TraceRecord trace;
    HopRecord hop;
    std::optional<TraceFact> fact;
};

void TraceRecorder::SetLayout(TraceLayout layout) {
    std::lock_guard lock(mutex_);
    layout_ = std::move(layout);
}

void TraceRecorder::Subscribe(std::shared_ptr<TraceListener> listener) {
    std::lock_guard lock(mutex_);
    listeners_.push_back(std::move(listener));
}

void TraceRecorder::Unsubscribe(const TraceListener *listener) {
    std::lock_guard lock(mutex_);
    std::erase_if(listeners_, [&](const auto &l) { return l.get() == listener; });
}

TraceRecord TraceRecorder::Current() const {
    std::lock_guard lock(mutex_);
    return trace_;
}

void TraceRecorder::Reset() {
    std::lock_guard lock(mutex_);
    layout_ = {};
    trace_ = {};
    begun_ = false;
    completed_ = 0;
}

void TraceRecorder::Tell(std::vector<Notice> notices) {
    if (notices.empty()) return;
    std::vector<std::shared_ptr<TraceListener>> listeners;
    {
        std::lock_guard lock(mutex_);
        listeners = listeners_;
    }
    for (const Notice &n : notices)
        for (const auto &l : listeners) {
            switch (n.kind) {
            case Notice::Kind::Started: l->TraceStarted(n.trace); break;
            case Notice::Kind::HopStarted: l->HopStarted(n.trace, n.hop); break;
            case Notice::Kind::HopCompleted: l->HopCompleted(n.trace, n.hop); break;
            case Notice::Kind::Ended: l->TraceEnded(n.trace); break;
            case Notice::Kind::Fact: l->FactNoted(*n.fact); break;
            }
        }
}

// Under the lock: a new trace, unless one is under way. Calls outside a trace (a tool's single echo)
// start one too, so that every call lands in some record.
void TraceRecorder::Begin(std::vector<Notice> &notices) {
    if (begun_) return;
    begun_ = true;
    trace_ = {};
    completed_ = 0;
    if (!listeners_.empty()) notices.push_back({Notice::Kind::Started, trace_, {}, {}});
}

// Under the lock: the hops numbered up to `hop` are complete; each is told once.
void TraceRecorder::CompleteUpTo(int32_t hop, std::vector<Notice> &notices) {
    for (const HopRecord &h : trace_.hops)
        if (h.hop > completed_ && h.hop <= hop && !listeners_.empty())
            notices.push_back({Notice::Kind::HopCompleted, trace_, h, {}});
    completed_ = std::max(completed_, hop);
}

// Under the lock: the record of that hop, made in its place when it is new.
HopRecord &TraceRecorder::Hop(int32_t hop, std::vector<Notice> &notices) {
    Begin(notices);
    auto at = std::lower_bound(trace_.hops.begin(), trace_.hops.end(), hop,
                               [](const HopRecord &h, int32_t n) { return h.hop < n; });
    if (at == trace_.hops.end() || at->hop != hop) {
        at = trace_.hops.insert(at, HopRecord{});
        at->hop = hop;
    }
    return *at;
}

void TraceRecorder::RowsCleared(uint32_t list) {
    std::vector<Notice> notices;
    {
        std::lock_guard lock(mutex_);
        if (list != layout_.hopList || !list) return;
        begun_ = false; // the program's trace starts by emptying its list
        Begin(notices);
    }
    Tell(std::move(notices));
}

void TraceRecorder::RowAppended(uint32_t list, int32_t row) {
    std::vector<Notice> notices;
    {
        std::lock_guard lock(mutex_);
        if (list != layout_.hopList || !list || row < 0) return;
        // The row of hop n follows the rows of the hops before it: they are complete.
        CompleteUpTo(row, notices);
        HopRecord &hop = Hop(row + 1, notices);
        if (!listeners_.empty()) notices.push_back({Notice::Kind::HopStarted, trace_, hop, {}});
    }
    Tell(std::move(notices));
}

void TraceRecorder::CellWritten(uint32_t list, int32_t row, int32_t column, std::string_view text) {
    std::lock_guard lock(mutex_);
    if (list != layout_.hopList || !list || !begun_) return;
    auto at =
        std::find_if(trace_.hops.begin(), trace_.hops.end(), [&](const HopRecord &h) { return h.hop == row + 1; });
    if (at == trace_.hops.end()) return;
    if (column == layout_.addressColumn) at->address = text;
    else if (column == layout_.placeColumn) at->place = text;
    else if (column == layout_.timeColumn) at->timeText = text;
}

void TraceRecorder::HostLookedUp(const char *name, uintptr_t hostent) {
    std::optional<uint32_t> address;
    if (hostent && Read<int16_t>(reinterpret_cast<const void *>(hostent), kHostLength) == 4) {
        uint32_t list = Read<uint32_t>(reinterpret_cast<const void *>(hostent), kHostAddressList);
        uint32_t first = list ? Read<uint32_t>(reinterpret_cast<const void *>(uintptr_t(list)), 0) : 0;
        if (first) address = Read<uint32_t>(reinterpret_cast<const void *>(uintptr_t(first)), 0);
    }
    static_assert(kHostSize == 16);
    std::vector<Notice> notices;
    {
        std::lock_guard lock(mutex_);
        Begin(notices);
        trace_.target = name ? name : "";
        trace_.address = address;
        if (!address && !listeners_.empty())
            notices.push_back({Notice::Kind::Fact, {}, {}, TraceFact{NameNotResolved{trace_.target}}});
    }
    Tell(std::move(notices));
}

void TraceRecorder::EchoChannelOpened(bool opened) {
    if (opened) return;
    std::vector<Notice> notices;
    {
        std::lock_guard lock(mutex_);
        if (!listeners_.empty()) notices.push_back({Notice::Kind::Fact, {}, {}, TraceFact{EchoUnavailable{}}});
    }
    Tell(std::move(notices));
}

void TraceRecorder::EchoChannelClosed() {
    std::vector<Notice> notices;
    {
        std::lock_guard lock(mutex_);
        if (!begun_) return;
        CompleteUpTo(trace_.hops.empty() ? 0 : trace_.hops.back().hop, notices);
        trace_.ended = true;
        begun_ = false;
        if (!listeners_.empty()) notices.push_back({Notice::Kind::Ended, trace_, {}, {}});
    }
    Tell(std::move(notices));
}

void TraceRecorder::EchoAnswered(const EchoAsked &asked, const void *reply, uint32_t replySize, uint32_t replies) {
    ProbeRecord probe;
    probe.ttl = asked.options ? Read<uint8_t>(asked.options, kOptionTtl) : 0;
    probe.sent = asked.sent;
    probe.dataSize = asked.dataSize;
    probe.destination = asked.destination;
    if (replies == 1 && reply && replySize >= kReplyHeaderSize) {
        probe.answer = KindOf(replies, Read<uint32_t>(reply, kReplyStatus));
        probe.from = Read<uint32_t>(reply, kReplyAddress);
        probe.roundTripMs = Read<uint32_t>(reply, kReplyRoundTripTime);
    }
    std::vector<Notice> notices;
    {
        std::lock_guard lock(mutex_);
        HopRecord &hop = Hop(probe.ttl, notices);
        hop.reached = hop.reached || (probe.answer != AnswerKind::None && probe.from == probe.destination);
        hop.probes.push_back(probe);
    }
    Tell(std::move(notices));
}

void TraceRecorder::FileMissing(std::string_view path, std::vector<std::string> lookedIn) {
    size_t slash = path.find_last_of("/\\");
    std::string file(slash == std::string_view::npos ? path : path.substr(slash + 1));
    std::vector<Notice> notices;
    {
        std::lock_guard lock(mutex_);
        if (layout_.placeDatabase.empty() || file != layout_.placeDatabase || listeners_.empty()) return;
        notices.push_back({Notice::Kind::Fact, {}, {}, TraceFact{PlaceDatabaseMissing{file, std::move(lookedIn)}}});
    }
    Tell(std::move(notices));
}

TraceRecorder &Traces() {
    static TraceRecorder *recorder = new TraceRecorder; // never destroyed: a trace thread may outlive main
    return *recorder;
}

} // namespace rt
