// Core commands on numbers.
#include <charconv>
#include <cmath>
#include <string>

#include "runtime.h"

namespace rt {

// The runtime's text-to-number rule: leading blanks are skipped, then an optional sign, digits with
// an optional fraction and an optional exponent are read; reading stops at the first character that
// does not fit. A text without digits is 0. No locale is consulted.
double TextToNumber(std::string_view t) {
    size_t i = 0;
    while (i < t.size() && (t[i] == ' ' || (t[i] >= '\t' && t[i] <= '\r'))) ++i;
    size_t start = i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t digitsStart = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    size_t digits = i - digitsStart;
    size_t integerEnd = i;
    if (i < t.size() && t[i] == '.') {
        ++i;
        size_t f = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
        digits += i - f;
    }
    if (digits == 0) return 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        size_t e = i + 1;
        if (e < t.size() && (t[e] == '+' || t[e] == '-')) ++e;
        size_t expDigits = e;
        while (e < t.size() && t[e] >= '0' && t[e] <= '9') ++e;
        if (e > expDigits) i = e;
    }
    bool negative = t[start] == '-';
    // A plain integer of up to 15 digits (an address part) is exact in a double: summed directly.
    if (i == integerEnd && digits <= 15) {
        double value = 0;
        for (size_t d = digitsStart; d < i; ++d) value = value * 10 + (t[d] - '0');
        return negative ? -value : value;
    }
    std::string_view number = t.substr(start, i - start);
    if (!number.empty() && (number[0] == '+' || number[0] == '-')) number.remove_prefix(1);
    double value = 0;
    auto r = std::from_chars(number.data(), number.data() + number.size(), value);
    if (r.ec == std::errc::result_out_of_range) value = HUGE_VAL; // only overflow lands here in practice
    return negative ? -value : value;
}

namespace {

// TextToDouble: the numeric value of a text as a double.
RtResult ToNumber(Args &a) { return ResultOfDouble(TextToNumber(a.text(0))); }

std::string DoubleText(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// NumberText: the decimal text of a number (integers exactly; doubles in their shortest exact form).
RtResult ToText(Args &a) {
    switch (a.type(0)) {
    case RtTypeFloat:
    case RtTypeDouble: return ResultOfText(DoubleText(a.real(0)));
    case RtTypeText: return ResultOfText(a.text(0));
    default: return ResultOfText(std::to_string(a.integer(0)));
    }
}

// HexText: hexadecimal text, upper case, at most 8 digits; negative values in 32-bit two's complement.
RtResult HexText(Args &a) {
    uint32_t v = uint32_t(uint64_t(a.integer(0)));
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
    for (char *p = buf; p != r.ptr; ++p)
        if (*p >= 'a' && *p <= 'f') *p = char(*p - 'a' + 'A');
    return ResultOfText(std::string_view(buf, size_t(r.ptr - buf)));
}

// TextToInt: the integer value of a text: the number rule above, truncated toward zero and held to
// the 32-bit range.
RtResult ToInteger(Args &a) {
    double v = std::trunc(TextToNumber(a.text(0)));
    if (std::isnan(v)) v = 0;
    v = std::fmax(-2147483648.0, std::fmin(2147483647.0, v));
    return ResultOfInt(int32_t(v));
}

// Divide: a / b in double precision (IEEE results for a zero divisor).
RtResult Divide(Args &a) { return ResultOfDouble(a.real(0) / a.real(1)); }

} // namespace

void AddNumberCommands(CommandTable &table) {
    table.add(cmd::TextToDouble, ToNumber);
    table.add(cmd::NumberText, ToText);
    table.add(cmd::HexText, HexText);
    table.add(cmd::TextToInt, ToInteger);
    table.add(cmd::Divide, Divide);
}

} // namespace rt
