// The window without a window, for scripts: the program's own start event fills the controls' model,
// the start button's event runs the trace, and each row of the result list is printed as it completes.
// The report bounds the trace (the wait of each hop, the last hop) through the runtime's echo bounds,
// so the program's trace runs as it is, and numbers every hop: row n of the list is hop n.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "runtime/frontends/window_frontend.h"

namespace rt {

// The form and routines as every front end has them, and what the report adds.
struct ReportOptions : FrontEndOptions {
    std::string target;              // UTF-8, as typed on the command line
    std::optional<std::string> size; // the characters-per-packet box, when given
    int32_t maxHops = 30;            // the last hop probed and printed
    uint32_t waitMs = 2400;          // how long each hop waits for its answer
    bool json = false;               // one JSON document at the end instead of a line per hop
    bool record = false;             // the start event may add the target to the history file
    // The units a report fills and reads.
    uint32_t targetBox = 0, sizeBox = 0, startButton = 0, resultList = 0, addressBox = 0;
    // The program's message (GBK) for a missing place database, shown once with where it was
    // looked for, and the database's file name.
    std::string databaseMissing, databaseFile;
    // What to do where no ICMP socket can be opened: the product's advice (UTF-8, lines ending in
    // a line break), printed after the program's name.
    std::string icmpHint;
    FILE *out = stdout;
    FILE *err = stderr;
};

// Exit codes of a report.
enum ReportExit : int32_t {
    kReportReached = 0,       // the trace reached the target
    kReportNotReached = 1,    // it ran out of hops, or the target did not resolve
    kReportNoTrace = 2,       // it cannot run: arguments, sockets or ICMP, start-up
    kReportInterrupted = 128, // plus the signal's number: 130 SIGINT, 143 SIGTERM
};

class ReportFrontEnd : public FormFrontEnd {
  public:
    static FrontEndResult<ReportFrontEnd> Create(ReportOptions options);
    ~ReportFrontEnd() override;

  protected:
    using FormFrontEnd::FormFrontEnd;
};

// A JSON string literal of text that should be UTF-8: a byte that is not part of a valid sequence
// becomes U+FFFD, so the document stays valid whatever a target or a database holds.
std::string JsonString(std::string_view utf8);

} // namespace rt
