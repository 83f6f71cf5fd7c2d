// Core commands on texts. Texts are GBK bytes; positions and lengths count bytes, as the
// application's algorithms expect (a Chinese character counts 2).
#include <algorithm>
#include <string>
#include <vector>

#include "gbk.h"
#include "runtime.h"

namespace rt {
namespace {

// 0x130: length in bytes.
RtResult Length(Args &a) { return ResultOfInt(int32_t(a.text(0).size())); }

// 0x134: the leftmost n bytes (all of them when n is larger).
RtResult Left(Args &a) {
    std::string_view t = a.text(0);
    return ResultOfText(t.substr(0, size_t(std::min<int64_t>(a.count(1), int64_t(t.size())))));
}

// 0x138: the rightmost n bytes.
RtResult Right(Args &a) {
    std::string_view t = a.text(0);
    size_t n = size_t(std::min<int64_t>(a.count(1), int64_t(t.size())));
    return ResultOfText(t.substr(t.size() - n));
}

// 0x13c: n bytes from the 1-based start position; a start past the end gives the empty text.
RtResult Middle(Args &a) {
    std::string_view t = a.text(0);
    int64_t start = a.integer(1, 1);
    if (start < 1) a.fail(RtErrorIndexBelowOne, "start position " + std::to_string(start));
    int64_t n = a.count(2);
    if (start > int64_t(t.size())) return ResultOfText({});
    return ResultOfText(t.substr(size_t(start - 1), size_t(std::min<int64_t>(n, int64_t(t.size()) - (start - 1)))));
}

// 0x140: the one-byte text with that character code; code 0 gives the empty text.
RtResult Character(Args &a) {
    char c = char(uint8_t(a.integer(0)));
    return ResultOfText(c ? std::string_view(&c, 1) : std::string_view());
}

// 0x150: ASCII letters in upper case, two-byte characters untouched.
RtResult Upper(Args &a) { return ResultOfText(GbkUpper(a.text(0))); }

// Blanks: ASCII space and control white space, and the full-width space A1 A1.
size_t LeadingBlanks(std::string_view t) {
    size_t i = 0;
    while (i < t.size()) {
        unsigned char c = static_cast<unsigned char>(t[i]);
        if (c == ' ' || (c >= '\t' && c <= '\r')) ++i;
        else if (c == 0xA1 && i + 1 < t.size() && static_cast<unsigned char>(t[i + 1]) == 0xA1) i += 2;
        else break;
    }
    return i;
}
size_t TrailingBlanks(std::string_view t) {
    // Walk forward so that a trail byte 0xA1 is never mistaken for the start of a full-width space.
    size_t end = 0; // end of the last non-blank character
    ForEachGbkChar(t, [&](size_t i, size_t n) {
        unsigned char c = static_cast<unsigned char>(t[i]);
        bool blank = n == 1 ? (c == ' ' || (c >= '\t' && c <= '\r'))
                            : (c == 0xA1 && static_cast<unsigned char>(t[i + 1]) == 0xA1);
        if (!blank) end = i + n;
    });
    return t.size() - end;
}

// 0x174: without leading and trailing blanks.
RtResult Trim(Args &a) {
    std::string_view t = a.text(0);
    size_t lead = LeadingBlanks(t);
    if (lead == t.size()) return ResultOfText({});
    size_t trail = TrailingBlanks(t);
    return ResultOfText(t.substr(lead, t.size() - lead - trail));
}

// Texts above this size are refused rather than exhausting memory on a bad count.
constexpr int64_t kMaxTextBytes = int64_t(1) << 30;

// 0x184: a text of n spaces, which the caller then overwrites.
RtResult Spaces(Args &a) {
    int64_t n = a.count(0);
    if (n > kMaxTextBytes) a.fail(RtErrorBadArgument, "text of " + std::to_string(n) + " bytes");
    return ResultOfText(std::string(size_t(n), ' '));
}

// 0x188: the text repeated count times.
RtResult Repeat(Args &a) {
    int64_t n = a.count(0);
    std::string_view t = a.text(1);
    if (!t.empty() && n > kMaxTextBytes / int64_t(t.size()))
        a.fail(RtErrorBadArgument, "repeated text larger than 1 GiB");
    std::string out;
    out.reserve(size_t(n) * t.size());
    for (int64_t i = 0; i < n; ++i) out += t;
    return ResultOfText(out);
}

// 0x190: the pieces between the separators, as an array of texts. The separator defaults to ","
// and an empty remainder after the last separator is no piece, so "a|b|" and "a|b" both give two
// pieces, "|" gives one empty piece and the empty text gives none. The optional third argument
// caps the number of pieces.
RtResult Split(Args &a) {
    std::string_view t = a.text(0);
    std::string_view sep = a.omitted(1) ? std::string_view(",") : a.text(1);
    int64_t limit = a.omitted(2) ? INT64_MAX : a.count(2);
    std::vector<std::string_view> pieces;
    if (sep.empty()) {
        if (!t.empty()) pieces.push_back(t);
    } else {
        size_t from = 0;
        while (from < t.size()) {
            size_t at = t.find(sep, from);
            if (at == std::string_view::npos) {
                pieces.push_back(t.substr(from));
                break;
            }
            pieces.push_back(t.substr(from, at - from));
            from = at + sep.size();
        }
    }
    if (int64_t(pieces.size()) > limit) pieces.resize(size_t(limit));
    return ResultOfTextArray(pieces);
}

// 0x6f8: normalisation to half width: full-width ASCII forms (A3 A1..A3 FE) become their ASCII
// characters, the full-width space becomes a space and the ideographic full stop a "." (so that a
// dotted address typed with an input method still splits into its four parts).
RtResult HalfWidth(Args &a) {
    std::string_view t = a.text(0);
    std::string out;
    out.reserve(t.size());
    ForEachGbkChar(t, [&](size_t i, size_t n) {
        if (n == 2) {
            unsigned char lead = static_cast<unsigned char>(t[i]), trail = static_cast<unsigned char>(t[i + 1]);
            if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
                out += char(trail - 0x80);
                return;
            }
            if (lead == 0xA1 && trail == 0xA1) {
                out += ' ';
                return;
            }
            if (lead == 0xA1 && trail == 0xA3) {
                out += '.';
                return;
            }
        }
        out.append(t.substr(i, n));
    });
    return ResultOfText(out);
}

} // namespace

void AddTextCommands(CommandTable &table) {
    table.add(0x130, Length);
    table.add(0x134, Left);
    table.add(0x138, Right);
    table.add(0x13c, Middle);
    table.add(0x140, Character);
    table.add(0x150, Upper);
    table.add(0x174, Trim);
    table.add(0x184, Spaces);
    table.add(0x188, Repeat);
    table.add(0x190, Split);
    table.add(0x6f8, HalfWidth);
}

} // namespace rt
