// Any bytes as an ipdb source database: refused or walked, never read outside.
#include <cstdint>

#include "formats/ipdb/ipdb_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto reader = ipdb::Reader::Open({data, size});
    if (!reader) return 0;
    uint64_t ranges = 0;
    (void)reader->ForEachIpv4Range([&](uint32_t, uint32_t, const std::vector<std::string_view> *) { ++ranges; });
    (void)reader->Lookup(0x08080808);
    return 0;
}
