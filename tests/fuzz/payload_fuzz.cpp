// Any bytes as an executable with a payload: read, decode, inflate and walk without fault.
#include <cstdint>

#include "formats/payload/payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    payload::MemorySource source({data, size});
    auto block = payload::ReadPayloadBlock(source);
    if (!block.ok()) return 0;
    auto decoded = payload::DecodePayloadBlock(block.value());
    if (!decoded.ok()) return 0;
    // Declared sizes are capped so that the fuzzer explores the format rather than the allocator.
    int32_t declared = decoded->tableSize > (1 << 20) ? (1 << 20) : decoded->tableSize;
    auto table =
        payload::InflateFileTable(block.value().data() + decoded->streamOffset, decoded->streamLength, declared);
    if (!table.ok()) return 0;
    std::span<const uint8_t> bytes(table.value());
    for (size_t at = 0; at < bytes.size();) {
        auto e = payload::NextFileEntry(bytes, at);
        if (!e.ok()) break;
        if (e->next <= at || e->next > bytes.size()) __builtin_trap(); // entries move forward inside the table
        (void)payload::IsSafeName(e->name);
        at = e->next;
    }
    return 0;
}
