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

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && GbkUpper(a) == GbkUpper(b);
}

namespace {

// Copies UTF-8 text, handing each control character to `control` (with the text so far and its code)
// instead: C0 and DEL, C1 written in UTF-8, and a lone byte 0x80 to 0x9F that is no part of a
// character, which a terminal set for 8-bit controls would obey (0x9B opens an escape sequence).
// Other bytes that are no UTF-8 (GBK text) are copied as they are.
template <class Control> std::string MapControls(std::string_view text, Control control) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t n = Utf8CharLength(text.substr(i));
        const unsigned char next = n == 2 ? static_cast<unsigned char>(text[i + 1]) : 0;
        if ((n <= 1 && (c < 0x20 || c == 0x7F)) || (n == 0 && c >= 0x80 && c <= 0x9F)) control(out, c);
        else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) control(out, next); // U+0080..U+009F
        else out.append(text.substr(i, n ? n : 1));
        i += n ? n : 1;
    }
    return out;
}

} // namespace

std::string ReplaceControls(std::string_view utf8) {
    return MapControls(utf8, [](std::string &out, unsigned) { out += '?'; });
}

std::string EscapeControls(std::string_view utf8) {
    return MapControls(utf8, [](std::string &out, unsigned code) {
        if (code == '\t') out += "\\t";
        else if (code == '\r') out += "\\r";
        else if (code == '\n') out += "\\n";
        else {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", code);
            out += b;
        }
    });
}

size_t Utf8CharLength(std::string_view s) {
    if (s.empty()) return 0;
    auto at = [&s](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
    unsigned c = at(0);
    if (c < 0x80) return 1;
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || s.size() < n) return 0;
    for (size_t i = 1; i < n; ++i)
        if ((at(i) & 0xC0) != 0x80) return 0;
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
    unsigned second = at(1);
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second > 0x8F))
        return 0;
    return n;
}

size_t DisplayCells(std::string_view utf8) {
    size_t cells = 0;
    for (size_t i = 0; i < utf8.size();) {
        size_t n = Utf8CharLength(utf8.substr(i));
        if (n == 0) { // not UTF-8: a cell a byte
            ++cells;
            ++i;
            continue;
        }
        uint32_t c = n == 1 ? uint8_t(utf8[i]) : uint8_t(utf8[i]) & (0xFF >> (n + 1));
        for (size_t k = 1; k < n; ++k) c = c << 6 | (uint8_t(utf8[i + k]) & 0x3F);
        const bool wide =
            (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0xA4CF) ||
            (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
            (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
        cells += wide ? 2 : 1;
        i += n;
    }
    return cells;
}

std::string Hex(uint64_t value, int digits) {
    char b[24];
    std::snprintf(b, sizeof b, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return b;
}

} // namespace rt
