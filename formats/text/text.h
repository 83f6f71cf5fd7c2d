// Texts: GBK (code page 936) and hexadecimal numbers.
//
// GBK texts, as the program stores them: a lead byte 0x81..0xFE starts a two-byte
// character whose trail byte may look like an ASCII letter, so case folding steps over whole
// characters. Conversion to and from UTF-8 happens only at the edges (windows, terminal, tools).
#pragma once

#include <cstdint>
#include <optional>
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
std::string GbkUpper(std::string_view s);

// Compares without regard to ASCII letter case, GBK characters byte for byte. Plain ASCII names
// (DLL and file names) compare the same way.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Conversions for showing and reading texts; bytes that do not convert become '?'.
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);
// The exact GBK form, or nothing when a character has none (the window's description is checked
// with it at build time).
std::optional<std::string> Utf8ToGbkExact(std::string_view utf8);

// The UTF-8 text with every control character (C0, DEL and C1) replaced by '?', so that a text from
// a file can be written to a terminal without sending it escape sequences.
std::string ReplaceControls(std::string_view utf8);

// The UTF-8 text as one field of a tab-separated row: tab, CR and LF as \t, \r and \n, every other
// control character (C0, DEL, C1) as \xNN, so that no field can end its row or forge another.
std::string EscapeControls(std::string_view utf8);

// The length of the well-formed UTF-8 character at the start of `s` (no overlong form, no surrogate,
// nothing past U+10FFFF), or 0 when it does not start with one.
size_t Utf8CharLength(std::string_view s);

// The cells a terminal gives UTF-8 text, East Asian wide and full-width characters taking two, by a
// fixed table rather than the locale's, so that a report aligns its columns alike wherever its output
// goes (a file, a pipe, the Windows console); a byte that is not UTF-8 takes one.
size_t DisplayCells(std::string_view utf8);

// A number as 0x-prefixed upper-case hexadecimal, at least `digits` digits wide.
std::string Hex(uint64_t value, int digits = 1);

} // namespace rt
