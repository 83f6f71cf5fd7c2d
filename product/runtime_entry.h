// The runtime's entry, RuntimeEntry, as one flow on every platform: the command line read, the image
// prepared, the front end chosen, the program started, and a start that cannot go on told one way.
// What differs by platform is behind EntryPlatform: rtcore_entry.cpp (Linux), rtcore_entry_windows.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/result.h"
#include "runtime/core/runtime.h"
#include "runtime/frontends/report/report_frontend.h"
#include "runtime/frontends/window_frontend.h"

namespace product {

// Why the program cannot go on, and how it ends then.
struct StartFailure {
    std::string message; // UTF-8, without a last line break
    // The program ends with this code; none: the entry returns and the launcher ends the program as
    // it ends every window start (with 0, as the program always did).
    std::optional<int32_t> exitCode;
};

// The steps of the entry that each platform takes its own way.
class EntryPlatform {
  public:
    virtual ~EntryPlatform() = default;
    // The program's arguments after its name: the launcher hands over the image only.
    virtual std::vector<std::string> CommandLine() const = 0;
    // The front end that shows the window built from the options, or why there is none.
    virtual rt::Result<std::unique_ptr<rt::FrontEnd>, StartFailure> Window(rt::FrontEndOptions options) = 0;
    // The live view of the report's rounds (--watch), with the AS column where the report shows
    // one; it takes over the terminal. Or why it cannot be shown: without a terminal on standard
    // output, and on platforms that have none (the default).
    virtual rt::Result<std::shared_ptr<rt::RoundsObserver>, StartFailure> LiveView(const rt::ReportOptions &report);
};

// Tells the user something at start, before any window exists: a line on standard error.
void Tell(const std::string &utf8);

// Runs the program in the image: what RuntimeEntry does. Returns only when the program cannot start.
int32_t RunEntry(const void *image, EntryPlatform &platform);

} // namespace product
