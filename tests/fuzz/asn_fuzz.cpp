// Any bytes as an AS table: opening it ends with the table or a problem, and every lookup of an open
// table reads inside the bytes, without fault.
#include <cstdint>
#include <vector>

#include "formats/asn/asn_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A copy of exactly that size: a read past it is caught.
    std::vector<uint8_t> bytes(data, data + size);
    auto table = asn::Table::Open(bytes);
    if (!table) return 0;
    for (uint32_t address : {0u, 1u, 0x01020304u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        auto network = table->Lookup(address);
        if (network && network->name.size() > size) __builtin_trap();
    }
    return 0;
}
