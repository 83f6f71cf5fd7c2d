#include "pe_checksum.h"

#include "formats/byte_reader.h"

namespace pe {

namespace {

// Offsets in the headers, as the PE/COFF format lays them out.
constexpr size_t kDosSize = 0x40;          // the DOS header, whose last word is e_lfanew
constexpr size_t kLfanew = 0x3C;           // where the PE signature starts
constexpr size_t kCoffSize = 20;           // the COFF file header after the signature
constexpr size_t kOptionalSizeField = 16;  // SizeOfOptionalHeader, in the COFF header
constexpr size_t kChecksumInOptional = 64; // CheckSum, the same for PE32 and PE32+
constexpr uint16_t kPe32 = 0x10B, kPe32Plus = 0x20B;

} // namespace

std::string Describe(ChecksumError error) {
    switch (error) {
    case ChecksumError::kNoDosHeader: return "not a PE file: no DOS header";
    case ChecksumError::kNoPeHeader: return "not a PE file: no PE header where the DOS header points";
    case ChecksumError::kNoOptionalHeader: return "the PE file has no optional header that holds a checksum";
    }
    return "unknown error";
}

std::variant<ChecksumField, ChecksumError> FindChecksum(std::span<const uint8_t> file) {
    ByteReader r(file);
    if (!r.has(0, kDosSize) || file[0] != 'M' || file[1] != 'Z') return ChecksumError::kNoDosHeader;
    size_t pe = *r.u32le(kLfanew);
    // The signature and the COFF header must lie inside the file (checked before any sum of offsets
    // is formed from an untrusted value).
    if (!r.has(pe, 4 + kCoffSize) || *r.u32le(pe) != 0x00004550) return ChecksumError::kNoPeHeader;
    size_t optional = pe + 4 + kCoffSize;
    uint16_t optionalSize = *r.u16le(pe + 4 + kOptionalSizeField);
    auto magic = r.u16le(optional);
    if (optionalSize < kChecksumInOptional + 4 || !r.has(optional, kChecksumInOptional + 4) || !magic ||
        (*magic != kPe32 && *magic != kPe32Plus))
        return ChecksumError::kNoOptionalHeader;
    size_t at = optional + kChecksumInOptional;
    return ChecksumField{at, *r.u32le(at)};
}

uint32_t Compute(std::span<const uint8_t> file, size_t fieldOffset) {
    uint32_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        // The field's own bytes count as zero; an odd last byte is a word of its own.
        if (i >= fieldOffset && i < fieldOffset + 4) continue;
        uint32_t word = file[i];
        if (i + 1 < file.size()) word |= uint32_t(file[i + 1]) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return sum + uint32_t(file.size());
}

} // namespace pe
