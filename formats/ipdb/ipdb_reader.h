// A reader of "ipdb" location databases (the IPIP.net format): a 4-byte big-endian length, that many
// bytes of JSON metadata, then a binary trie of 8-byte nodes (two big-endian child words) followed by
// the records, each a 2-byte big-endian length and tab-separated fields. Everything is read through
// one bounded reader: a malformed file is refused with what is wrong, and no walk leaves the file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/result.h"

namespace ipdb {

enum class Problem {
    ShortHeader,     // shorter than the metadata length
    MetadataOutside, // the metadata runs past the file
    BadMetadata,     // the metadata is not the JSON object the format has
    NoIpv4,          // the database holds no IPv4 addresses
    SizeMismatch,    // the data is not as long as the metadata says
    NodesOutside,    // the node table runs past the data
    NodeOutOfRange,  // a node points past the node table and the records
    RecordOutside,   // a record runs past the data
    Ipv4RootMissing, // the IPv4 part of the trie ends before its root
};
std::string_view Describe(Problem p);
using Finding = rt::Finding<Problem>;

struct Metadata {
    uint64_t build = 0;
    uint32_t ipVersion = 0; // bit 0: IPv4, bit 1: IPv6
    uint32_t nodeCount = 0;
    uint64_t totalSize = 0;
    std::vector<std::string> fields; // field names of one language
    uint32_t languageOffset = 0;     // where the first language's fields start in a record
};

class Reader {
  public:
    // Checks the header, the metadata and the sizes; the nodes and records are checked as they are walked.
    static rt::Result<Reader, Finding> Open(std::span<const uint8_t> bytes);

    const Metadata &metadata() const { return meta_; }

    // Calls fn(first, last, record) for every IPv4 range in address order, where record is the
    // range's record (its fields split by tab) or nothing for addresses the database has no record
    // for. Stops at the first problem and returns it.
    using RangeFn = std::function<void(uint32_t first, uint32_t last, const std::vector<std::string_view> *fields)>;
    rt::Result<bool, Finding> ForEachIpv4Range(const RangeFn &fn) const;

    // The fields of one address's record, or nothing.
    rt::Result<std::optional<std::vector<std::string_view>>, Finding> Lookup(uint32_t address) const;

  private:
    Reader(std::span<const uint8_t> data, Metadata meta) : data_(data), meta_(std::move(meta)) {}
    std::optional<uint32_t> Child(uint32_t node, int bit) const;
    rt::Result<std::vector<std::string_view>, Finding> Record(uint32_t node) const;
    rt::Result<uint32_t, Finding> Ipv4Root() const;

    std::span<const uint8_t> data_; // the node table and the records
    Metadata meta_;
};

} // namespace ipdb
