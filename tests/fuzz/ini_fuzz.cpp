// Any bytes as an INI file: parse, read, write, and read back what was written.
#include <cstdint>
#include <string>

#include "formats/ini/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    rt::IniDocument doc = rt::IniDocument::Parse(bytes);
    (void)doc.Get("\xC0\xFA\xCA\xB7\xBC\xC7\xC2\xBC", "url");
    (void)doc.Get("s", "k");
    doc.Set("\xC0\xFA\xCA\xB7\xBC\xC7\xC2\xBC", "url", "a|b|");
    auto back = rt::IniDocument::Parse(doc.Serialize()).Get("\xC0\xFA\xCA\xB7\xBC\xC7\xC2\xBC", "url");
    if (!back || *back != "a|b|") __builtin_trap(); // a written value must read back
    return 0;
}
