// The payload format: trailer and block checks with their messages, scrambling, the file table.
#include <gtest/gtest.h>

#include <cstring>

#include "formats/payload/payload.h"
#include "temp_dir.h"

using namespace payload;
using rt::testing::Bytes;

namespace {

// The error of a result, or Error::None when it holds a value.
template <typename R> Error ErrorOf(const R &r) { return r.ok() ? Error::None : r.error(); }

// An executable of `before` bytes followed by the payload.
std::vector<uint8_t> Executable(const std::vector<uint8_t> &appended, size_t before = 2000) {
    std::vector<uint8_t> exe(before + appended.size(), 0x90);
    std::copy(appended.begin(), appended.end(), exe.begin() + std::ptrdiff_t(before));
    return exe;
}

Error ReadError(const std::vector<uint8_t> &exe) {
    MemorySource source(exe);
    return ErrorOf(ReadPayloadBlock(source));
}

void PutU32(std::vector<uint8_t> &b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

const std::vector<PayloadFile> kFiles = {{"rtcore.slr", Bytes("library")}, {"empty.dat", {}}, {"x", Bytes("y")}};

} // namespace

TEST(Payload, MessagesAreTheLaunchersTexts) {
    EXPECT_EQ(Describe(Error::InvalidData), "Invalid data in the file!");
    EXPECT_EQ(Describe(Error::ReadFailed), "Failed to read data from the file!");
    EXPECT_EQ(Describe(Error::ReadOrInvalid), "Failed to read file or invalid data in file!");
    EXPECT_EQ(Describe(Error::NoMemory), "Insufficient memory!");
    EXPECT_EQ(Describe(Error::DecompressFailed), "Failed to decompress data!");
}

TEST(Payload, ScramblingStartsWithTheKeysSecondByteAndUndoesItself) {
    std::vector<uint8_t> run(9, 0);
    ScramblePayload(run.data(), int64_t(run.size()), 0x44332211);
    EXPECT_EQ(run, (std::vector<uint8_t>{0x22, 0x33, 0x44, 0x11, 0x22, 0x33, 0x44, 0x11, 0x22}));
    ScramblePayload(run.data(), int64_t(run.size()), 0x44332211);
    EXPECT_EQ(run, std::vector<uint8_t>(9, 0));
    ScramblePayload(run.data(), 0, 0xFFFFFFFF);
    ScramblePayload(run.data(), -5, 0xFFFFFFFF);
    EXPECT_EQ(run, std::vector<uint8_t>(9, 0)) << "a count below 1 changes nothing";
}

TEST(Payload, TrailerChecks) {
    std::vector<uint8_t> payload = BuildPayload(kFiles, 0x1A2B, "", 0xA1B2C3D4);
    EXPECT_EQ(ReadError(Executable(payload)), Error::None);
    std::vector<uint8_t> small(1007, 0);
    EXPECT_EQ(ReadError(small), Error::InvalidData) << "an executable of 1007 bytes";
    std::vector<uint8_t> badMagic = Executable(payload);
    badMagic.back() ^= 1;
    EXPECT_EQ(ReadError(badMagic), Error::InvalidData);

    // S equal to P: the block would start at offset 0.
    std::vector<uint8_t> exe = Executable(payload);
    uint32_t p = uint32_t(exe.size() - 8);
    PutU32(exe, exe.size() - 8, p);
    EXPECT_EQ(ReadError(exe), Error::InvalidData);
    PutU32(exe, exe.size() - 8, p - 1); // accepted as far as the trailer goes; the block magic then fails
    EXPECT_EQ(ReadError(exe), Error::ReadOrInvalid);
    PutU32(exe, exe.size() - 8, 3);
    EXPECT_EQ(ReadError(exe), Error::InvalidData) << "S below 4";
    PutU32(exe, exe.size() - 8, 0x80000000u);
    EXPECT_EQ(ReadError(exe), Error::InvalidData) << "a negative S";
}

TEST(Payload, BlockMagicFailureHasItsOwnMessage) {
    std::vector<uint8_t> exe = Executable(BuildPayload(kFiles, 1, "", 7));
    uint32_t s;
    std::memcpy(&s, exe.data() + exe.size() - 8, 4);
    exe[exe.size() - 8 - s] ^= 0xFF; // first byte of the block
    EXPECT_EQ(ReadError(exe), Error::ReadOrInvalid);
}

TEST(Payload, ShortReadsOfTheTrailer) {
    class Failing : public Source {
      public:
        std::optional<uint64_t> SeekFromEnd(uint64_t) override { return 5000; }
        std::optional<size_t> Read(uint8_t *, size_t) override { return 7; }
    } shortRead;
    EXPECT_EQ(ErrorOf(ReadPayloadBlock(shortRead)), Error::ReadFailed);
}

TEST(Payload, DecodeKeepsThePlainFieldsAndChecksTheTable) {
    std::vector<uint8_t> payload = BuildPayload(kFiles, 0x1A2B, "folder", 0xA1B2C3D4);
    std::vector<uint8_t> block(payload.begin(), payload.end() - 8);
    std::vector<uint8_t> before = block;
    auto d = DecodePayloadBlock(block);
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d->folderId, 0x1A2Bu);
    EXPECT_EQ(d->folderName, "folder");
    EXPECT_TRUE(std::equal(block.begin(), block.begin() + 12, before.begin())) << "only bytes from offset 12 change";
    EXPECT_NE(block[12], before[12]);

    auto tampered = [](uint32_t magic, int32_t u) {
        std::vector<uint8_t> stream = Compress(BuildFileTable(kFiles));
        std::vector<uint8_t> p = AssembleBlock(1, "", 0x01020304, magic, u, stream);
        std::vector<uint8_t> b(p.begin(), p.end() - 8);
        return ErrorOf(DecodePayloadBlock(b));
    };
    EXPECT_EQ(tampered(kTableMagic, 10), Error::None);
    EXPECT_EQ(tampered(kTableMagic + 1, 10), Error::InvalidData);
    EXPECT_EQ(tampered(kTableMagic, 0), Error::InvalidData);
    EXPECT_EQ(tampered(kTableMagic, -1), Error::InvalidData);
}

TEST(Payload, BlocksTooShortForTheirFieldsAreInvalid) {
    for (size_t n = 0; n < 21; ++n) {
        std::vector<uint8_t> block(n, 0);
        if (n >= 4) PutU32(block, 0, kMagic);
        EXPECT_EQ(ErrorOf(DecodePayloadBlock(block)), Error::InvalidData) << n << " bytes";
    }
    // A folder name without NUL: scrambled 0xFF bytes to the end.
    std::vector<uint8_t> noNul(40, 0);
    PutU32(noNul, 0, kMagic);
    for (size_t i = 12; i < noNul.size(); ++i) noNul[i] = 0xFF; // key 0: stays 0xFF
    EXPECT_EQ(ErrorOf(DecodePayloadBlock(noNul)), Error::InvalidData);
}

TEST(Payload, InflateToTheDeclaredSize) {
    std::vector<uint8_t> table = BuildFileTable(kFiles);
    std::vector<uint8_t> stream = Compress(table);
    auto exact = InflateFileTable(stream.data(), stream.size(), int32_t(table.size()));
    ASSERT_TRUE(exact.ok());
    EXPECT_EQ(exact.value(), table);
    auto larger = InflateFileTable(stream.data(), stream.size(), int32_t(table.size() + 100));
    ASSERT_TRUE(larger.ok()) << "U larger than the table: the table ends where the data ends";
    EXPECT_EQ(larger.value().size(), table.size());
    EXPECT_EQ(ErrorOf(InflateFileTable(stream.data(), stream.size(), int32_t(table.size() - 1))),
              Error::DecompressFailed);
    EXPECT_EQ(ErrorOf(InflateFileTable(stream.data(), 0, 10)), Error::DecompressFailed) << "an empty stream";
    std::vector<uint8_t> corrupt = stream;
    corrupt[corrupt.size() - 1] ^= 1; // the Adler-32 check
    EXPECT_EQ(ErrorOf(InflateFileTable(corrupt.data(), corrupt.size(), 1000)), Error::DecompressFailed);
    EXPECT_EQ(ErrorOf(InflateFileTable(stream.data(), stream.size() - 3, 1000)), Error::DecompressFailed)
        << "a stream that does not end";
    std::vector<uint8_t> none = Compress({});
    auto empty = InflateFileTable(none.data(), none.size(), 8);
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty.value().empty()) << "a table of zero bytes has no entries";
}

TEST(Payload, EntriesWalkInOrderAndStayInsideTheTable) {
    std::vector<uint8_t> table = BuildFileTable(kFiles);
    std::vector<std::string> names;
    size_t position = 0;
    while (position < table.size()) {
        auto e = NextFileEntry(table, position);
        ASSERT_TRUE(e.ok());
        names.emplace_back(e->name);
        if (e->name == "empty.dat") {
            EXPECT_TRUE(e->content.empty());
        }
        position = e->next;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"rtcore.slr", "empty.dat", "x"}));
    for (size_t cut = 1; cut < table.size(); ++cut) {
        std::vector<uint8_t> shortTable(table.begin(), table.begin() + std::ptrdiff_t(cut));
        size_t at = 0;
        bool failed = false;
        while (at < shortTable.size()) {
            auto e = NextFileEntry(shortTable, at);
            if (!e.ok()) {
                EXPECT_EQ(ErrorOf(e), Error::InvalidData);
                failed = true;
                break;
            }
            at = e->next;
        }
        EXPECT_TRUE(failed || at == shortTable.size()) << "cut at " << cut;
    }
}

TEST(Payload, OnlySinglePathComponentsAreNames) {
    for (const char *bad : {"", ".", "..", "...", "a/b", "/etc", "a\\b", "..\\x", "C:x", "a:stream", "a?", "x\n",
                            "name.", "name ", "NUL", "con.txt", "Com1", "lpt9.dll"})
        EXPECT_FALSE(IsSafeName(bad)) << bad;
    for (const char *good : {"rtcore.slr", "Q_N1A2B", ".hidden", "a b", "COM10", "console", "nul_"})
        EXPECT_TRUE(IsSafeName(good)) << good;
}
