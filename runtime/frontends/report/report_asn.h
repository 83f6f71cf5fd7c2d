// The network that owns each hop (--asn): the offline AS table (asn.dat, made by tools/asn2dat from
// the published RouteViews and DB-IP table), looked for as the place database is, loaded once before
// the trace and read through the table's bounded reader.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "formats/asn/asn_table.h"
#include "runtime/core/trace_records.h"

namespace rt {

class AsTable {
  public:
    // Finds and opens the table; where there is none, or it does not read, says so on `err` (after
    // the program's name) and every hop's AS stays absent.
    void Load(const std::string &file, const std::string &programName, FILE *err);

    // The network of the address the hop answered from; nothing for a silent hop, an address the
    // table names no network for (the documentation ranges, private ones), or without a table.
    std::optional<asn::Network> Of(const HopRecord &hop) const;
    // The network of an address (network byte order): each responder of a hop has its own.
    std::optional<asn::Network> Of(uint32_t address) const;

    // The hop's AS as a column shows it: "AS4134 CHINANET", "AS4134" without a name, "-" where the
    // table names none; control characters escaped as places are.
    std::string Column(const HopRecord &hop) const;
    static std::string Column(std::optional<asn::Network> network);

  private:
    std::string bytes_; // the table's file, which table_ reads
    std::optional<asn::Table> table_;
};

} // namespace rt
