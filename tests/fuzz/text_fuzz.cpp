// Any bytes as a place text or a target: a report row field holds no control character, and the
// JSON string is UTF-8 with none either.
#include <cstdint>
#include <string>

#include "formats/text/text.h"
#include "runtime/frontends/report/report_frontend.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    for (unsigned char c : rt::EscapeControls(rt::GbkToUtf8(bytes)))
        if (c < 0x20 || c == 0x7F) __builtin_trap(); // it would end or forge a row
    std::string json = rt::JsonString(bytes);
    for (size_t at = 0; at < json.size();) {
        size_t n = rt::Utf8CharLength(std::string_view(json).substr(at));
        if (n == 0 || static_cast<unsigned char>(json[at]) < 0x20) __builtin_trap();
        at += n;
    }
    return 0;
}
