// The program's command line: the window, a report trace, or an answer and an exit code.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "runtime/frontends/report/report_frontend.h"

namespace product {

// What the command line asks for: the window (nothing), a report, or an answer and an exit code.
struct Request {
    std::optional<rt::ReportOptions> report;
    bool watch = false; // the report's rounds are shown as they run, in the terminal (--watch)
    std::optional<int> exitNow;
};

// The arguments after the program's name. Options are read only with --report (or --help,
// --version); other arguments leave the window to start as usual (a file dropped on its icon).
// The usage, the version and what is wrong with the arguments are printed on out and err.
Request ParseCommandLine(const std::vector<std::string> &args, FILE *out = stdout, FILE *err = stderr);

// Said where the window cannot be shown and no report was asked for (without a last line break).
extern const char *const kNoWindowHint;
// Said where the live view cannot be shown (without a last line break).
extern const char *const kWatchHint;

} // namespace product
