// The window without a window, for scripts: the program's own start event fills the controls' model,
// the target and size are typed and the start button pressed as a person would, and the program's
// trace runs as it is. What the report prints comes from the trace's records and facts
// (runtime/core/trace_records.h), each hop as it completes; it never reads the window back. It
// bounds the trace (the wait of each hop, the last hop) through the runtime's echo bounds.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "runtime/frontends/report/report_json.h"
#include "runtime/frontends/report/rounds_observer.h"
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
    bool asn = false;                // each hop's AS from the offline table, in a column and in JSON
    std::string asnFile = "asn.dat"; // the table's file name, looked for as the place database is
    // Rounds: the trace runs this many times, a round starting intervalMs after the last one started
    // (or when it ended, if later). More than one round, or CSV, prints the hops' figures over the
    // rounds (a table, JSON or CSV) at the end instead of a line per hop.
    uint32_t cycles = 1; // 0: until the observer stops the rounds
    uint32_t intervalMs = 1000;
    bool csv = false;
    // What watches the rounds as they run (the live view), or none.
    std::shared_ptr<RoundsObserver> observer;
    // How a person starts a trace in the product's window: the boxes to type the target and the
    // size into, and the button to press.
    uint32_t targetBox = 0, sizeBox = 0, startButton = 0;
    // What to do where no ICMP socket can be opened: the product's advice (UTF-8, lines ending in
    // a line break), printed after the program's name.
    std::string icmpHint;
    FILE *out = stdout;
    FILE *err = stderr;
};

// Exit codes of a report.
enum ReportExit : int32_t {
    kReportReached = 0,       // the trace reached the target (over rounds: in some round)
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

} // namespace rt
