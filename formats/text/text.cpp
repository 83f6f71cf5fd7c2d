#include "text.h"

#include <cstdio>


namespace rt {

std::string GbkUpper(std::string_view s) {
    std::string out(s);
    ForEachGbkChar(s, [&](size_t i, size_t n) {
        if (n == 1 && out[i] >= 'a' && out[i] <= 'z') out[i] = char(out[i] - 'a' + 'A');
    });
    return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) { return a.size() == b.size() && GbkUpper(a) == GbkUpper(b); }

std::string ReplaceControls(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned char next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F) out += '?';
        else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) { // U+0080..U+009F
            out += '?';
            ++i;
        } else out += char(c);
    }
    return out;
}

std::string Hex(uint64_t value, int digits) {
    char b[24];
    std::snprintf(b, sizeof b, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return b;
}

} // namespace rt
