// The PE checksum tool's reading of headers it is given: a file that is not a PE file, or whose
// header points outside it, is refused with the reason and nothing is read outside the bytes. (The
// sums themselves are checked against Windows' own computation under wine:
// tests/windows/clean_executables.sh.)
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "tools/pechecksum/pe_checksum.h"

namespace {

// A minimal PE32 header: "MZ", e_lfanew = 0x40, "PE\0\0", a COFF header with SizeOfOptionalHeader,
// the optional header's magic, the checksum field holding 0x12345678.
std::vector<uint8_t> Header(uint32_t lfanew = 0x40, uint16_t optionalSize = 224, uint16_t magic = 0x10B) {
    std::vector<uint8_t> f(0x40 + 24 + 224, 0);
    f[0] = 'M', f[1] = 'Z';
    for (int i = 0; i < 4; ++i) f[0x3C + i] = uint8_t(lfanew >> (8 * i));
    f[0x40] = 'P', f[0x41] = 'E';
    f[0x40 + 4 + 16] = uint8_t(optionalSize), f[0x40 + 4 + 17] = uint8_t(optionalSize >> 8);
    f[0x58] = uint8_t(magic), f[0x59] = uint8_t(magic >> 8);
    f[0x58 + 64] = 0x78, f[0x58 + 65] = 0x56, f[0x58 + 66] = 0x34, f[0x58 + 67] = 0x12;
    return f;
}

TEST(PeChecksum, FindsTheFieldOrSaysWhyNot) {
    auto whole = Header();
    auto found = pe::FindChecksum(whole);
    ASSERT_TRUE(std::holds_alternative<pe::ChecksumField>(found));
    EXPECT_EQ(std::get<pe::ChecksumField>(found).offset, 0x98u);
    EXPECT_EQ(std::get<pe::ChecksumField>(found).stored, 0x12345678u);

    auto notMz = Header();
    notMz[0] = 'X';
    auto shortDos = std::vector<uint8_t>(whole.begin(), whole.begin() + 0x30);
    auto truncated = std::vector<uint8_t>(whole.begin(), whole.begin() + 0x58 + 60);
    struct Case {
        const char *what;
        std::vector<uint8_t> file;
        pe::ChecksumError error;
    } cases[] = {
        {"empty", {}, pe::ChecksumError::kNoDosHeader},
        {"no MZ", notMz, pe::ChecksumError::kNoDosHeader},
        {"shorter than the DOS header", shortDos, pe::ChecksumError::kNoDosHeader},
        {"e_lfanew past the end", Header(0x10000), pe::ChecksumError::kNoPeHeader},
        {"e_lfanew wrapping around", Header(0xFFFFFFF0), pe::ChecksumError::kNoPeHeader},
        {"e_lfanew at no signature", Header(0x44), pe::ChecksumError::kNoPeHeader},
        {"optional header too short", Header(0x40, 40), pe::ChecksumError::kNoOptionalHeader},
        {"optional header of no known kind", Header(0x40, 224, 0x107), pe::ChecksumError::kNoOptionalHeader},
        {"file ends inside the checksum", truncated, pe::ChecksumError::kNoOptionalHeader},
    };
    for (const auto &c : cases) {
        auto r = pe::FindChecksum(c.file);
        ASSERT_TRUE(std::holds_alternative<pe::ChecksumError>(r)) << c.what;
        EXPECT_EQ(std::get<pe::ChecksumError>(r), c.error) << c.what;
        EXPECT_FALSE(pe::Describe(c.error).empty());
    }
}

} // namespace
