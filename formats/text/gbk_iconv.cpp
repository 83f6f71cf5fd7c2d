// GBK conversions through iconv.
#include <iconv.h>

#include <cerrno>

#include "text.h"

namespace rt {

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
        std::string out(in.size() * 4 + 4, '\0');
        char *src = const_cast<char *>(in.data());
        size_t srcLeft = in.size();
        char *dst = out.data();
        size_t dstLeft = out.size();
        while (srcLeft > 0) {
            if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) != size_t(-1)) break;
            // A conversion that stopped inside a sequence may leave the converter mid-way: it is put
            // back to its initial state here, so that a clean call needs no reset of its own.
            int error = errno;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            if (exact || error == E2BIG || dstLeft == 0) return exact ? std::nullopt : std::optional<std::string>();
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

} // namespace rt
