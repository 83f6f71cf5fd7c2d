// The published IPv4-to-AS table (CSV lines "FIRST,LAST,ASN,ORGANISATION": addresses as numbers or
// dotted, the organisation quoted where it holds a comma, a quote doubled inside quotes) turned into
// the ranges of the program's AS table (formats/asn/asn_table.h): sorted, neighbours of the same
// network joined. A range that starts inside another ends that one there; a line that does not
// read, or two ranges that start at one address, refuse the whole table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "formats/asn/asn_table.h"
#include "formats/result.h"

namespace asn2dat {

enum class Problem {
    BadLine,     // a line is not four fields of the kinds above
    BadAddress,  // an address is not an IPv4 address
    BadNumber,   // the AS number is not a number below 2^32
    Overlapping, // two ranges start at the same address
};
std::string_view Describe(Problem p);

struct Failure {
    Problem problem;
    size_t line = 0; // 1-based
};

rt::Result<std::vector<asn::Range>, Failure> ReadCsv(std::string_view csv);

} // namespace asn2dat
