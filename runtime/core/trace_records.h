// The trace as data. The program's own code runs every trace; the runtime watches the calls it
// serves for it (the list commands, the resolver and echo DLL commands, the file opens) and keeps
// what happened as typed records: the target and its address, each hop with its probes and the row
// the program wrote. Front ends that need a trace's data (the report) subscribe here and never read
// the window's cells, unit ids or message texts. The records are filled in this one place, from
// both platforms' bindings of the DLL commands and the core's list and file commands.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace rt {

// How one echo request ended.
enum class AnswerKind : uint8_t {
    EchoReply,    // the destination answered the echo
    TimeExceeded, // a router on the way said the time-to-live ran out
    OtherError,   // another error report that quotes the request (unreachable, too big ...)
    None,         // no answer within the wait, or the request failed
};

// One echo request the program sent, and its answer.
struct ProbeRecord {
    uint8_t ttl = 0; // the request's time-to-live, which is its hop's number
    // When the program asked for it; a probe the ICMP layer sends ahead left a little earlier.
    std::chrono::system_clock::time_point sent;
    uint32_t dataSize = 0;    // bytes of data the request carried
    uint32_t destination = 0; // network byte order
    AnswerKind answer = AnswerKind::None;
    uint32_t from = 0;        // the answering address, network byte order; 0 without an answer
    uint32_t roundTripMs = 0; // whole milliseconds: what the echo command reports on both platforms
};

// One hop: its probes joined with the row the program wrote for it.
struct HopRecord {
    int32_t hop = 0; // 1 for the first row after the list was cleared
    std::vector<ProbeRecord> probes;
    // The row's texts as the program wrote them (GBK); empty where it wrote nothing (a silent hop).
    std::string address, place, timeText;
    bool reached = false; // an answer came from the address the probe was sent to: the target's
};

// One trace the program ran.
struct TraceRecord {
    std::string target;              // the name the program resolved, as typed (GBK)
    std::optional<uint32_t> address; // its first IPv4 address (network byte order); none: not resolved
    std::vector<HopRecord> hops;     // one per row, in hop order
    bool ended = false;              // the program closed its ICMP handle
};

// The dotted decimal text of an address in network byte order.
std::string DottedAddress(uint32_t address);

// Facts a front end tells its user about, typed where they happen.
struct PlaceDatabaseMissing {          // the place database could not be opened
    std::string file;                  // its file name
    std::vector<std::string> lookedIn; // the folders it was looked for in, in that order
};
struct NameNotResolved { // the resolver found no IPv4 address for the target
    std::string name;    // as the program asked (GBK)
};
struct EchoUnavailable {}; // no ICMP channel could be opened
using TraceFact = std::variant<PlaceDatabaseMissing, NameNotResolved, EchoUnavailable>;

// Told of a trace as it runs, on the thread that runs it, with the records as they stand; never
// while the recorder's lock is held, so a listener may take its own locks and ask for Current().
class TraceListener {
  public:
    virtual ~TraceListener() = default;
    virtual void TraceStarted(const TraceRecord &) {}
    // A row was appended for the hop (its probe follows).
    virtual void HopStarted(const TraceRecord &, const HopRecord &) {}
    // The hop is complete: the program went on to the next row, or the trace ended.
    virtual void HopCompleted(const TraceRecord &, const HopRecord &) {}
    virtual void TraceEnded(const TraceRecord &) {}
    virtual void FactNoted(const TraceFact &) {}
};

// Where the program keeps a trace, which only the product knows: the list that gets one row per
// hop (hop 1 first after it is cleared), which of its columns hold what, and the place database.
struct TraceLayout {
    uint32_t hopList = 0;
    int32_t addressColumn = -1, placeColumn = -1, timeColumn = -1;
    std::string placeDatabase; // its file name
};

// What an echo request asked, as the echo command saw it.
struct EchoAsked {
    const void *options = nullptr; // the option record (IP_OPTION_INFORMATION): its time-to-live
    uint32_t destination = 0;      // network byte order
    uint32_t dataSize = 0;
    std::chrono::system_clock::time_point sent;
};

class TraceRecorder {
  public:
    void SetLayout(TraceLayout layout);
    void Subscribe(std::shared_ptr<TraceListener> listener);
    void Unsubscribe(const TraceListener *listener);
    // The trace that runs, or the last one (empty before the first).
    TraceRecord Current() const;
    // Forgets the trace and the layout (tests).
    void Reset();

    // ---- What the runtime's calls report ----
    void RowsCleared(uint32_t list);
    void RowAppended(uint32_t list, int32_t row);
    void CellWritten(uint32_t list, int32_t row, int32_t column, std::string_view text);
    // gethostbyname's answer: the address of a hostent in the 32-bit layout (its pointers 32-bit
    // too, as on both platforms), or 0.
    void HostLookedUp(const char *name, uintptr_t hostent);
    void EchoChannelOpened(bool opened);
    void EchoChannelClosed();
    // IcmpSendEcho's answer: how many replies, written into the caller's ICMP_ECHO_REPLY.
    void EchoAnswered(const EchoAsked &asked, const void *reply, uint32_t replySize, uint32_t replies);
    // A file the program reads could not be opened where it was looked for.
    void FileMissing(std::string_view path, std::vector<std::string> lookedIn);

  private:
    struct Notice;
    void Tell(std::vector<Notice> notices);
    HopRecord &Hop(int32_t hop, std::vector<Notice> &notices);
    void Begin(std::vector<Notice> &notices);
    void CompleteUpTo(int32_t hop, std::vector<Notice> &notices);

    mutable std::mutex mutex_;
    TraceLayout layout_;
    TraceRecord trace_;
    bool begun_ = false;    // a trace is under way (trace_ is the last one otherwise)
    int32_t completed_ = 0; // hops up to this number were told complete
    std::vector<std::shared_ptr<TraceListener>> listeners_;
};

// The process's recorder.
TraceRecorder &Traces();

} // namespace rt
