// Any bytes as the const segment's table: refused with a line and a reason, or accepted with every
// constant where its row says and the files made from it.
#include <cstdint>
#include <string>

#include "tools/mkconstants/constants_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    auto parsed = rt::constants::ParseTable(bytes);
    if (!parsed.error.empty()) {
        if (parsed.error.rfind("line ", 0) != 0) __builtin_trap(); // a refusal names its line
        return 0;
    }
    uint32_t at = 0;
    for (const auto &c : parsed.table.constants) {
        if (c.offset != at) __builtin_trap(); // an accepted row is where it says
        at += static_cast<uint32_t>(c.bytes.size());
    }
    if (at != parsed.table.end || rt::constants::SegmentBytes(parsed.table).size() != at) __builtin_trap();
    (void)rt::constants::AssemblySource(parsed.table, "t");
    (void)rt::constants::HeaderSource(parsed.table, "t");
    return 0;
}
