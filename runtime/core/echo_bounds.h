// Bounds a front end puts on the program's echo requests. A report traces with the wait and the hop
// limit its user chose while the program's own trace runs as it is: the platform's binding of the
// echo command applies the bounds, so that every front end and every platform share one rule.
// (What each request brought is recorded with the trace: trace_records.h.)
#pragma once

#include <cstdint>

namespace rt {

struct EchoBounds {
    uint32_t waitMs = 0;  // how long each request waits for its answer; 0: as long as the program asks
    uint32_t lastTtl = 0; // a request with a larger time-to-live fails at once, unsent; 0: no limit
};

// The bounds in force.
void SetEchoBounds(EchoBounds bounds);
EchoBounds CurrentEchoBounds();

} // namespace rt
