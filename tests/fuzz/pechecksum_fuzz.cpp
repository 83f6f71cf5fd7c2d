// Any bytes as a PE file for the checksum tool: finding the field ends with it or a problem, and the
// sum reads inside the bytes, without fault.
#include <cstdint>
#include <vector>

#include "tools/pechecksum/pe_checksum.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A copy of exactly that size: a read past it is caught.
    std::vector<uint8_t> bytes(data, data + size);
    auto found = pe::FindChecksum(bytes);
    if (auto *field = std::get_if<pe::ChecksumField>(&found)) {
        if (field->offset > size - 4) __builtin_trap();
        (void)pe::Compute(bytes, field->offset);
    }
    return 0;
}
