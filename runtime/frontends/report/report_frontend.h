// The window without a window, for scripts: the program's own start event fills the controls' model,
// the start button's event runs the trace, and each row of the result list is printed as it completes.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "runtime/frontends/control_model.h"

namespace rt {

struct ReportOptions {
    std::span<const uint8_t> form; // the form segment's data; must outlive the front end
    uint32_t codeSize = 0;
    std::function<void *(uint32_t offset)> routineAt;
    std::string target;                  // UTF-8, as typed on the command line
    std::optional<std::string> size;     // the characters-per-packet box, when given
    bool json = false;                   // one JSON document at the end instead of a line per hop
    // The units a report fills and reads.
    uint32_t targetBox = 0, sizeBox = 0, startButton = 0, resultList = 0, addressBox = 0;
    FILE *out = stdout;
    FILE *err = stderr;
};

// Exit codes of a report.
enum ReportExit : int32_t {
    kReportReached = 0,    // the trace reached the target
    kReportNotReached = 1, // it ran out of hops, or the target did not resolve
    kReportNoTrace = 2,    // sockets or ICMP could not be opened (no hop was probed), or wrong arguments
};

class ReportFrontEnd : public ModelFrontEnd {
  public:
    static FrontEndResult<ReportFrontEnd> Create(ReportOptions options);
    ~ReportFrontEnd() override;
};

// A JSON string literal of UTF-8 text.
std::string JsonString(std::string_view utf8);

} // namespace rt
