// Any bytes as an INI file: parse, read, write, and read back what was written.
#include <cstdint>
#include <string>

#include "app/constants.h"
#include "formats/ini/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    rt::IniDocument doc = rt::IniDocument::Parse(bytes);
    (void)doc.Get(K_HistorySection, K_HistoryKey);
    (void)doc.Get("s", "k");
    doc.Set(K_HistorySection, K_HistoryKey, "a|b|");
    auto back = rt::IniDocument::Parse(doc.Serialize()).Get(K_HistorySection, K_HistoryKey);
    if (!back || *back != "a|b|") __builtin_trap(); // a written value must read back
    return 0;
}
