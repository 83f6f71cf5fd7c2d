// A report over rounds as text: the table a person reads and the CSV a spreadsheet reads, both from
// the path's figures (runtime/core/path_stats.h). The JSON form is report_json.h's.
#pragma once

#include <string>

#include "runtime/core/path_stats.h"
#include "runtime/frontends/report/report_asn.h"

namespace rt {

// The table: a heading, then one line per hop with its first responder and its figures, and one
// line of its own for each further responder (where there are several, each address with its count
// of answers). Columns are aligned on a terminal's cells, a CJK
// character taking two. With `asn`, each responder's AS follows its place.
std::string RoundsTable(const PathStats &stats, const AsTable *asn);

// CSV (RFC 4180, UTF-8): a header line, then one line per hop and responder, the hop's figures on
// each; a silent hop has one line with an empty address.
std::string RoundsCsv(const PathStats &stats, const AsTable *asn);

} // namespace rt
