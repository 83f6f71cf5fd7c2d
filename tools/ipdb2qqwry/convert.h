// Converts an ipdb database to a QQWry.dat that the program's lookup reads: every IPv4 range in
// order, adjacent ranges with the same place merged, texts in GBK, each distinct text and each
// distinct place stored once and reached through the redirect modes and the index.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/ipdb/ipdb_reader.h"

namespace convert {

// The place of a record as QQWry.dat texts (UTF-8): for China the province, city and district
// without "中国"; elsewhere the country, then region, city and district; the area from the owner and
// the network operator. A part that repeats the one before it (上海, 上海) is written once.
struct Place {
    std::string country, area;
    bool operator==(const Place &) const = default;
};
Place Compose(const std::vector<std::string_view> &fields, const std::vector<std::string> &names);

struct Summary {
    uint64_t sourceRanges = 0; // ranges of the source's IPv4 trie
    uint64_t ranges = 0;       // ranges written (index entries), after merging
    uint64_t records = 0;      // records written: one per distinct place
    uint64_t texts = 0;        // distinct texts stored
    uint64_t replaced = 0;     // characters GBK cannot hold, written as '?'
    uint64_t bytes = 0;        // size of the written database
};

enum class Error {
    Source,   // the ipdb file is malformed (the detail says how)
    TooLarge, // the records would pass the 16 MiB their 3-byte positions reach
    WriteFailed,
};
std::string_view Describe(Error e);
struct Failure {
    Error code;
    std::string detail;
};

// Reads the source through ipdb::Reader and writes the database to `out`.
rt::Result<Summary, Failure> Convert(std::span<const uint8_t> source, FILE *out);

} // namespace convert
