// Bounds a front end puts on the program's echo requests, and what it hears of each one. A report
// traces with the wait and the hop limit its user chose while the program's own trace runs as it
// is: the platform's binding of the echo command applies the bounds, so that every front end and
// every platform share one rule.
#pragma once

#include <cstdint>
#include <functional>

namespace rt {

struct EchoBounds {
    uint32_t waitMs = 0;  // how long each request waits for its answer; 0: as long as the program asks
    uint32_t lastTtl = 0; // a request with a larger time-to-live fails at once, unsent; 0: no limit
};

// One request as it ended.
struct EchoOutcome {
    uint32_t ttl = 0;
    bool answered = false; // exactly one answer came, as the program counts it
    uint32_t address = 0;  // the answering address, network byte order
    uint32_t roundTripMs = 0;
};

// The bounds in force and the observer of every request (called on the requesting thread).
void SetEchoBounds(EchoBounds bounds, std::function<void(const EchoOutcome &)> observer = {});
EchoBounds CurrentEchoBounds();
void NoteEchoOutcome(const EchoOutcome &outcome);

// Whether an ICMP handle could be opened; a front end tells its user how to allow ICMP when not.
void NoteEchoHandleOpened(bool opened);
bool EchoHandleRefused();

} // namespace rt
