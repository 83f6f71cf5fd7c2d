// The live view of a report's rounds (--watch): a full-screen table in the terminal (ncursesw), as
// mtr's, redrawn after every round. Keys: q or Ctrl-C stop, p pauses and resumes, r forgets the
// figures so far. It watches the rounds through the report's observer interface and gives the
// terminal back before the report prints its final table. Linux only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "formats/result.h"
#include "runtime/frontends/report/rounds_observer.h"

namespace rt {

struct WatchOptions {
    std::string target; // as typed on the command line (UTF-8)
    // The AS column's text for an address; without it, no AS column.
    std::function<std::string(uint32_t address)> asOf;
    int outputFd = 1; // the terminal drawn on
    int inputFd = 0;  // the keys; where it is no terminal, the controlling terminal's
};

// Takes over the terminal; says why not (the output is no terminal, or one the view cannot draw on).
Result<std::unique_ptr<RoundsObserver>, std::string> OpenWatchView(WatchOptions options);

} // namespace rt
