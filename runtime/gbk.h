// Byte-level helpers for GBK texts: a lead byte 0x81..0xFE starts a two-byte character whose
// trail byte may look like an ASCII letter, so case folding must step over whole characters.
#pragma once

#include <string>
#include <string_view>

namespace rt {

inline bool IsGbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Calls fn(offset, length) for each character: 1 byte, or 2 for a lead byte with a trail behind it.
template <typename Fn> void ForEachGbkChar(std::string_view s, Fn fn) {
    for (size_t i = 0; i < s.size();) {
        size_t n = (IsGbkLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
        fn(i, n);
        i += n;
    }
}

// ASCII letters upper-cased; two-byte characters kept as they are.
inline std::string GbkUpper(std::string_view s) {
    std::string out(s);
    ForEachGbkChar(s, [&](size_t i, size_t n) {
        if (n == 1 && out[i] >= 'a' && out[i] <= 'z') out[i] = char(out[i] - 'a' + 'A');
    });
    return out;
}

// Compares without regard to ASCII letter case, GBK characters byte for byte.
inline bool GbkEqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && GbkUpper(a) == GbkUpper(b);
}

} // namespace rt
