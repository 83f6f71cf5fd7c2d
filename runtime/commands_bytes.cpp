// Core commands on byte sets.
#include <algorithm>
#include <cstring>

#include "runtime.h"

namespace rt {
namespace {

// 0x194: length of a byte set.
RtResult ByteLength(Args &a) { return ResultOfInt(int32_t(a.bytes(0).size())); }

// 0x198: the bytes of a text, without its NUL.
RtResult TextBytes(Args &a) {
    std::string_view t = a.text(0);
    return ResultOfBytes({reinterpret_cast<const uint8_t *>(t.data()), t.size()});
}

// Type codes of 0x19c.
enum DataType : int64_t { kByte = 1, kShort = 2, kInt = 3, kLong = 4, kFloat = 5, kDouble = 6, kText = 10 };

// 0x19c: the value stored at a 1-based offset (default 1) of a byte set, little-endian. Bytes
// missing at the end read as zero, so three bytes read as an integer give their 24-bit value.
RtResult BytesToValue(Args &a) {
    std::span<const uint8_t> b = a.bytes(0);
    int64_t type = a.integer(1);
    int64_t offset = a.integer(2, 1);
    if (offset < 1) a.fail(RtErrorIndexBelowOne, "offset " + std::to_string(offset));
    std::span<const uint8_t> from =
        size_t(offset - 1) <= b.size() ? b.subspan(size_t(offset - 1)) : std::span<const uint8_t>();
    auto take = [&](size_t width) {
        uint64_t v = 0;
        if (!from.empty()) std::memcpy(&v, from.data(), std::min(width, from.size())); // an empty set is 0
        return v;
    };
    switch (type) {
    case kByte: return RtResult{take(1), RtTypeByte};
    case kShort: return RtResult{uint64_t(int64_t(int16_t(take(2)))), RtTypeShort};
    case kInt: return ResultOfInt(int32_t(uint32_t(take(4))));
    case kLong: return ResultOfLong(int64_t(take(8)));
    case kFloat: return RtResult{take(4), RtTypeFloat};
    case kDouble: return RtResult{take(8), RtTypeDouble};
    case kText: {
        auto nul = std::find(from.begin(), from.end(), uint8_t(0));
        return ResultOfText({reinterpret_cast<const char *>(from.data()), size_t(nul - from.begin())});
    }
    default: a.fail(RtErrorNotConvertible, "type code " + std::to_string(type));
    }
}

// 0x1a0: the first n bytes.
RtResult LeftBytes(Args &a) {
    std::span<const uint8_t> b = a.bytes(0);
    return ResultOfBytes(b.first(size_t(std::min<int64_t>(a.count(1), int64_t(b.size())))));
}

// 0x1a4: the last n bytes.
RtResult RightBytes(Args &a) {
    std::span<const uint8_t> b = a.bytes(0);
    return ResultOfBytes(b.last(size_t(std::min<int64_t>(a.count(1), int64_t(b.size())))));
}

} // namespace

void AddByteSetCommands(CommandTable &table) {
    table.add(0x194, ByteLength);
    table.add(0x198, TextBytes);
    table.add(0x19c, BytesToValue);
    table.add(0x1a0, LeftBytes);
    table.add(0x1a4, RightBytes);
}

} // namespace rt
