#include "asn_table.h"

#include <cstring>
#include <map>
#include <utility>

#include "formats/byte_reader.h"

namespace asn {
namespace {

constexpr uint8_t kMagic[4] = {'R', 'T', 'A', 'S'};

// Field offsets of the header.
constexpr size_t kVersionAt = 4, kHeaderSizeAt = 6, kRangeCountAt = 8, kNetworkCountAt = 12, kNamesSizeAt = 16,
                 kDateAt = 20;
// Field offsets of a range and of a network.
constexpr size_t kFirstAt = 0, kLastAt = 4, kNetworkAt = 8;
constexpr size_t kAsnAt = 0, kNameAt = 4;

void Put32(std::vector<uint8_t> &out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + size_t(i)] = uint8_t(v >> (8 * i));
}

} // namespace

std::string_view Describe(Problem p) {
    switch (p) {
    case Problem::ShortHeader: return "shorter than the AS table's header";
    case Problem::BadMagic: return "not an AS table";
    case Problem::BadVersion: return "an AS table of a layout this program does not read";
    case Problem::SizeMismatch: return "the AS table's sizes do not match the file's";
    case Problem::RangeOutOfOrder: return "the AS table's ranges are not in order";
    case Problem::NetworkOutside: return "a range names a network the AS table does not hold";
    case Problem::NameOutside: return "a network's name lies outside the AS table";
    }
    return "unknown problem";
}

rt::Result<Table, Finding> Table::Open(std::span<const uint8_t> bytes) {
    ByteReader r(bytes);
    if (!r.has(0, kHeaderSize)) return Finding{Problem::ShortHeader, ""};
    if (std::memcmp(bytes.data(), kMagic, 4) != 0) return Finding{Problem::BadMagic, ""};
    if (*r.u16le(kVersionAt) != kVersion || *r.u16le(kHeaderSizeAt) != kHeaderSize)
        return Finding{Problem::BadVersion, ""};
    Table t;
    t.ranges_ = *r.u32le(kRangeCountAt);
    t.networks_ = *r.u32le(kNetworkCountAt);
    t.namesSize_ = *r.u32le(kNamesSizeAt);
    t.date_ = *r.u32le(kDateAt);
    // In 64 bits: no count the header may hold can make the sum wrap.
    uint64_t expected =
        kHeaderSize + uint64_t(t.ranges_) * kRangeSize + uint64_t(t.networks_) * kNetworkSize + uint64_t(t.namesSize_);
    if (expected != bytes.size()) return Finding{Problem::SizeMismatch, ""};
    t.bytes_ = bytes;
    const size_t networksAt = kHeaderSize + size_t(t.ranges_) * kRangeSize;
    for (uint32_t i = 0; i < t.ranges_; ++i) {
        size_t at = kHeaderSize + size_t(i) * kRangeSize;
        uint32_t first = *r.u32le(at + kFirstAt), last = *r.u32le(at + kLastAt);
        if (last < first || (i > 0 && first <= *r.u32le(at - kRangeSize + kLastAt)))
            return Finding{Problem::RangeOutOfOrder, "range " + std::to_string(i)};
        if (*r.u32le(at + kNetworkAt) >= t.networks_)
            return Finding{Problem::NetworkOutside, "range " + std::to_string(i)};
    }
    for (uint32_t i = 0; i < t.networks_; ++i)
        if (*r.u32le(networksAt + size_t(i) * kNetworkSize + kNameAt) >= t.namesSize_)
            return Finding{Problem::NameOutside, "network " + std::to_string(i)};
    return t;
}

std::optional<Network> Table::Lookup(uint32_t address) const {
    ByteReader r(bytes_);
    // The last range that starts at or before the address.
    uint32_t low = 0, high = ranges_; // the answer lies in [low, high)
    while (high - low > 1) {
        uint32_t mid = low + (high - low) / 2;
        if (*r.u32le(kHeaderSize + size_t(mid) * kRangeSize + kFirstAt) <= address) low = mid;
        else high = mid;
    }
    size_t at = kHeaderSize + size_t(low) * kRangeSize;
    if (ranges_ == 0 || *r.u32le(at + kFirstAt) > address || *r.u32le(at + kLastAt) < address) return std::nullopt;
    size_t networksAt = kHeaderSize + size_t(ranges_) * kRangeSize;
    size_t network = networksAt + size_t(*r.u32le(at + kNetworkAt)) * kNetworkSize;
    size_t namesAt = networksAt + size_t(networks_) * kNetworkSize;
    ByteReader names(bytes_.subspan(namesAt));
    return Network{*r.u32le(network + kAsnAt), names.text(*r.u32le(network + kNameAt)).value_or("")};
}

std::optional<std::vector<uint8_t>> Write(const std::vector<Range> &ranges, uint32_t date) {
    std::map<std::pair<uint32_t, std::string>, uint32_t> networkIndex;
    std::map<std::string, uint32_t> nameOffset;
    std::vector<std::pair<uint32_t, uint32_t>> networks; // AS number, name offset
    std::string names;
    std::vector<uint32_t> rangeNetwork;
    for (size_t i = 0; i < ranges.size(); ++i) {
        const Range &range = ranges[i];
        if (range.last < range.first || (i > 0 && range.first <= ranges[i - 1].last)) return std::nullopt;
        auto [name, newName] = nameOffset.try_emplace(range.name, uint32_t(names.size()));
        if (newName) names.append(range.name).push_back('\0');
        auto [network, newNetwork] = networkIndex.try_emplace({range.asn, range.name}, uint32_t(networks.size()));
        if (newNetwork) networks.emplace_back(range.asn, name->second);
        rangeNetwork.push_back(network->second);
    }
    if (ranges.size() > UINT32_MAX / kRangeSize || names.size() > UINT32_MAX / 2) return std::nullopt;
    std::vector<uint8_t> out(kHeaderSize + ranges.size() * kRangeSize + networks.size() * kNetworkSize + names.size());
    std::memcpy(out.data(), kMagic, 4);
    out[kVersionAt] = uint8_t(kVersion);
    out[kHeaderSizeAt] = uint8_t(kHeaderSize);
    Put32(out, kRangeCountAt, uint32_t(ranges.size()));
    Put32(out, kNetworkCountAt, uint32_t(networks.size()));
    Put32(out, kNamesSizeAt, uint32_t(names.size()));
    Put32(out, kDateAt, date);
    for (size_t i = 0; i < ranges.size(); ++i) {
        size_t at = kHeaderSize + i * kRangeSize;
        Put32(out, at + kFirstAt, ranges[i].first);
        Put32(out, at + kLastAt, ranges[i].last);
        Put32(out, at + kNetworkAt, rangeNetwork[i]);
    }
    size_t networksAt = kHeaderSize + ranges.size() * kRangeSize;
    for (size_t i = 0; i < networks.size(); ++i) {
        Put32(out, networksAt + i * kNetworkSize + kAsnAt, networks[i].first);
        Put32(out, networksAt + i * kNetworkSize + kNameAt, networks[i].second);
    }
    std::memcpy(out.data() + networksAt + networks.size() * kNetworkSize, names.data(), names.size());
    return out;
}

} // namespace asn
