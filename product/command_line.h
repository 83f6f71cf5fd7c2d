// The program's command line: the window, a report trace, or an answer and an exit code.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "runtime/frontends/report/report_frontend.h"

namespace product {

// What the command line asks for: the window (nothing), a report, or an answer and an exit code.
struct Request {
    std::optional<rt::ReportOptions> report;
    std::optional<int> exitNow;
};

// The arguments after the program's name.
Request ParseCommandLine(const std::vector<std::string> &args);

} // namespace product
