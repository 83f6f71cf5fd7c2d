// Arguments of a command call, decoded with their type words checked, and the results commands build.
#include <bit>
#include <climits>
#include <cstring>

#include "runtime.h"

namespace rt {

void Args::fail(int32_t kind, std::string_view detail) const {
    ErrorSite site;
    site.command = command_;
    site.library = library_;
    runtime_.Fail(kind, site, detail);
}

void Args::failNotConvertible(size_t i, const char *what) const {
    fail(RtErrorNotConvertible, "argument " + std::to_string(i + 1) + " is not " + what);
}

std::span<const uint8_t> Args::anyBytes(size_t i) const {
    if (omitted(i)) return {};
    if (type(i) != RtTypeBytes) failNotConvertible(i, "a byte set");
    const uint8_t *array = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(raw(i)));
    if (!array) return {};
    uint32_t dims = ArrayWord(array, 0);
    uint64_t count = dims == 0 ? 0 : 1;
    for (uint32_t d = 0; d < dims; ++d) {
        count *= ArrayWord(array, 1 + d);
        if (count > UINT32_MAX) fail(RtErrorBadArgument, "byte set larger than 4 GiB");
    }
    return {array + 4 * (1 + dims), size_t(count)};
}

int64_t Args::anyInteger(size_t i, int64_t fallback) const {
    if (omitted(i)) return fallback;
    uint64_t v = raw(i);
    switch (type(i)) {
    case RtTypeByte: return int64_t(uint8_t(v));
    case RtTypeShort: return int64_t(int16_t(uint16_t(v)));
    case RtTypeInt: return int64_t(int32_t(uint32_t(v)));
    case RtTypeLong: return int64_t(v);
    case RtTypeFloat:
    case RtTypeDouble: {
        double d = real(i);
        if (!(d > -9.3e18 && d < 9.3e18)) fail(RtErrorNotConvertible, "number out of the integer range");
        return int64_t(d);
    }
    default: failNotConvertible(i, "a number");
    }
}

double Args::real(size_t i, double fallback) const {
    if (omitted(i)) return fallback;
    uint64_t v = raw(i);
    switch (type(i)) {
    case RtTypeFloat: return double(std::bit_cast<float>(uint32_t(v)));
    case RtTypeDouble: return std::bit_cast<double>(v);
    case RtTypeByte:
    case RtTypeShort:
    case RtTypeInt:
    case RtTypeLong: return double(integer(i));
    default: failNotConvertible(i, "a number");
    }
}

void Args::failNegative(size_t i, int64_t n) const {
    fail(RtErrorNegativeCount, "argument " + std::to_string(i + 1) + " is " + std::to_string(n));
}

uintptr_t Args::routine(size_t i) const {
    if (type(i) != RtTypeRoutine) failNotConvertible(i, "a routine");
    return static_cast<uintptr_t>(raw(i));
}

Args::Unit Args::unit(size_t i) const {
    if (omitted(i)) fail(RtErrorBadArgument, "argument " + std::to_string(i + 1) + " must be a unit");
    const RtTriple &t = triples_[i];
    // A unit's type word is a unit type identifier: a library row (1 to 5) in its high half.
    if ((t.type & 0x80000000u) != 0 || (t.type >> 16) == 0 || (t.type >> 16) > 5) failNotConvertible(i, "a unit");
    return Unit{t.low, t.high, t.type};
}

// ---- Results -----------------------------------------------------------------------------------

RtResult ResultOfText(std::string_view text) {
    char *p = static_cast<char *>(Runtime::Allocate(text.size() + 1));
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    p[text.size()] = 0;
    return RtResult{reinterpret_cast<uintptr_t>(p), RtTypeText};
}

RtResult ResultOfBytes(std::span<const uint8_t> bytes) {
    auto *words = static_cast<uint32_t *>(Runtime::Allocate(8 + bytes.size()));
    words[0] = 1;
    words[1] = uint32_t(bytes.size());
    if (!bytes.empty()) std::memcpy(words + 2, bytes.data(), bytes.size());
    return RtResult{reinterpret_cast<uintptr_t>(words), RtTypeBytes};
}

RtResult ResultOfTextArray(std::span<const std::string_view> texts) {
    auto *words = static_cast<uint32_t *>(Runtime::Allocate(8 + texts.size() * sizeof(char *)));
    words[0] = 1;
    words[1] = uint32_t(texts.size());
    auto *elements = reinterpret_cast<char **>(words + 2);
    for (size_t i = 0; i < texts.size(); ++i)
        elements[i] = reinterpret_cast<char *>(static_cast<uintptr_t>(ResultOfText(texts[i]).value));
    return RtResult{reinterpret_cast<uintptr_t>(words), RtTypeText};
}

RtResult ResultOfDouble(double v) { return RtResult{std::bit_cast<uint64_t>(v), RtTypeDouble}; }

} // namespace rt
