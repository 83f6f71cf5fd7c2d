// The AS table: which network (autonomous system) announces each IPv4 address, kept offline beside
// the place database. The project's own compact file, made at set-up from a published table
// (tools/asn2dat) and never edited by hand. All integers little-endian:
//
//   header, 32 bytes: magic "RTAS", version (2 bytes, 1), header size (2 bytes, 32), range count,
//       network count, names size (4 bytes each), the source's date (YYYYMMDD), two reserved words
//   ranges, range count x 12 bytes, sorted by first address, none overlapping another:
//       first address, last address, network index (4 bytes each)
//   networks, network count x 8 bytes: AS number, offset of its name in the names
//   names, names size bytes: UTF-8 texts, each ended by a NUL
//
// The reader checks the header, every size and the order of the ranges once when it opens a file
// (a few milliseconds for the real table); a lookup then is a binary search that reads inside the
// file only, and a name whose NUL is missing reads as no name.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/result.h"

namespace asn {

inline constexpr uint16_t kVersion = 1;
inline constexpr size_t kHeaderSize = 32;
inline constexpr size_t kRangeSize = 12;
inline constexpr size_t kNetworkSize = 8;

enum class Problem {
    ShortHeader,     // shorter than the header
    BadMagic,        // not an AS table
    BadVersion,      // a layout this reader does not know
    SizeMismatch,    // the sizes in the header do not add up to the file's
    RangeOutOfOrder, // a range starts before the one before it ends, or ends before it starts
    NetworkOutside,  // a range names a network past the network table
    NameOutside,     // a network's name starts past the names
};
std::string_view Describe(Problem p);
using Finding = rt::Finding<Problem>;

// One range of addresses (host byte order) and the network announcing it.
struct Range {
    uint32_t first = 0, last = 0;
    uint32_t asn = 0;
    std::string name; // the network's organisation, UTF-8, as the source names it
};

// What an address belongs to.
struct Network {
    uint32_t asn = 0;
    std::string_view name; // into the table's bytes; empty when the file holds none
};

class Table {
  public:
    // The table in the bytes, which must outlive it; every size and the ranges' order checked.
    static rt::Result<Table, Finding> Open(std::span<const uint8_t> bytes);

    // The network of an address (host byte order), or nothing where the table names none.
    std::optional<Network> Lookup(uint32_t address) const;

    uint32_t rangeCount() const { return ranges_; }
    uint32_t date() const { return date_; } // the source's, YYYYMMDD

  private:
    Table() = default;
    std::span<const uint8_t> bytes_;
    uint32_t ranges_ = 0, networks_ = 0, namesSize_ = 0, date_ = 0;
};

// The file for the ranges, which must be sorted and must not overlap (the converter sees to it);
// nothing when they are not, or when there are more than the format can count.
std::optional<std::vector<uint8_t>> Write(const std::vector<Range> &ranges, uint32_t date);

} // namespace asn
