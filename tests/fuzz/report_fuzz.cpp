// Any bytes as a report field (a target as typed, or a database's GBK text made UTF-8): the JSON
// string is valid UTF-8 with no raw control byte, and a text field holds no control byte at all.
#include <iconv.h>

#include <cerrno>

#include <cstdint>
#include <string>

#include "formats/text/text.h"
#include "runtime/frontends/report/report_frontend.h"

namespace {

bool ValidUtf8(const std::string &s) {
    static iconv_t cd = ::iconv_open("UTF-32LE", "UTF-8");
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string in = s;
    char *from = in.data();
    size_t left = in.size();
    while (left) {
        char out[256];
        char *to = out;
        size_t room = sizeof out;
        if (::iconv(cd, &from, &left, &to, &room) == size_t(-1) && errno != E2BIG) return false;
    }
    return true;
}

void Check(std::string_view text) {
    std::string json = rt::JsonString(text);
    if (json.size() < 2 || json.front() != '"' || json.back() != '"' || !ValidUtf8(json)) __builtin_trap();
    for (unsigned char c : json)
        if (c < 0x20) __builtin_trap();
    for (unsigned char c : rt::EscapeControls(text))
        if (c < 0x20 || c == 0x7F) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    Check(bytes);
    Check(rt::GbkToUtf8(bytes));
    return 0;
}
