#include "text.h"

#include <iconv.h>

#include <cerrno>
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

namespace {

// An iconv descriptor per thread and direction, opened once: conversions sit on every cell and text
// property the window shows.
class Converter {
  public:
    Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != iconv_t(-1)) iconv_close(cd_);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // With `exact`, the first sequence that does not convert gives nothing; otherwise it shows as '?'.
    std::optional<std::string> operator()(std::string_view in, bool exact) {
        if (cd_ == iconv_t(-1)) return exact ? std::nullopt : std::optional<std::string>(in);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        std::string out(in.size() * 4 + 4, '\0');
        char *src = const_cast<char *>(in.data());
        size_t srcLeft = in.size();
        char *dst = out.data();
        size_t dstLeft = out.size();
        while (srcLeft > 0) {
            if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) != size_t(-1)) break;
            if (exact || errno == E2BIG || dstLeft == 0) return exact ? std::nullopt : std::optional<std::string>();
            *dst++ = '?'; // skip one byte of the sequence that does not convert
            --dstLeft;
            ++src;
            --srcLeft;
        }
        out.resize(out.size() - dstLeft);
        return out;
    }

  private:
    iconv_t cd_;
};

} // namespace

std::string GbkToUtf8(std::string_view gbk) {
    thread_local Converter convert("UTF-8", "GBK");
    return convert(gbk, false).value_or(std::string());
}

std::string Utf8ToGbk(std::string_view utf8) {
    thread_local Converter convert("GBK", "UTF-8");
    return convert(utf8, false).value_or(std::string());
}

std::optional<std::string> Utf8ToGbkExact(std::string_view utf8) {
    thread_local Converter convert("GBK", "UTF-8");
    return convert(utf8, true);
}

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
