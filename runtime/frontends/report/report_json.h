// The report's JSON document, written with nlohmann-json from the trace's records.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "runtime/core/path_stats.h"
#include "runtime/core/trace_records.h"
#include "runtime/frontends/report/report_asn.h"

namespace rt {

// What one document holds besides the hops.
struct ReportDocument {
    std::string target; // UTF-8, as typed on the command line
    std::optional<uint32_t> address;
    std::time_t started = 0;
    int32_t maxHops = 0;
    uint32_t waitMs = 0;
    int32_t size = 0;
    bool reached = false, interrupted = false;
    std::span<const HopRecord> hops; // the hops the report took, in order
    const AsTable *asn = nullptr;    // with --asn: each hop's "asn" (number or null) and "as_name"
    // A report over rounds (-c, --csv): the hops' figures instead of the rows, and the rounds asked.
    const PathStats *stats = nullptr;
    uint32_t cycles = 1, intervalMs = 1000;
};

// The document on one line, ending in a line break.
std::string ReportJson(const ReportDocument &document);

// A JSON string literal of text that should be UTF-8: a byte that is not part of a valid sequence
// becomes U+FFFD, so the document stays valid whatever a target or a database holds, and every
// control character (C0, DEL, C1) is escaped, so none reaches a log that shows the document.
std::string JsonString(std::string_view utf8);

} // namespace rt
