// The header checksum of a PE file (the value Windows' imagehlp computes and checks for drivers and
// signed files): the file's 16-bit words summed with end-around carry, the checksum field counted as
// zero, plus the file's length. It covers every byte of the file, data appended after the image
// included, so it is written only once the file is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>

namespace pe {

enum class ChecksumError {
    kNoDosHeader,      // shorter than the DOS header or without "MZ"
    kNoPeHeader,       // e_lfanew points outside the file or not at "PE\0\0"
    kNoOptionalHeader, // the optional header is too short to hold the checksum, or of no known kind
};
std::string Describe(ChecksumError error);

// Where the checksum field lies and what it holds now.
struct ChecksumField {
    size_t offset;   // of the 4-byte field, from the start of the file
    uint32_t stored; // the value found there
};

std::variant<ChecksumField, ChecksumError> FindChecksum(std::span<const uint8_t> file);

// The checksum of the file, with the four bytes at fieldOffset counted as zero.
uint32_t Compute(std::span<const uint8_t> file, size_t fieldOffset);

} // namespace pe
