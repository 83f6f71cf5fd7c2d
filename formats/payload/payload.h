// The payload appended to the executable: a scrambled block holding a zlib-compressed file table,
// located from the 8-byte trailer at the end of the file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "formats/result.h"
#include <vector>

namespace payload {

inline constexpr uint32_t kMagic = 0x829AB7A5;      // trailer magic and block magic
inline constexpr uint32_t kTableMagic = 0x033E0F0D; // first scrambled field after the folder name
inline constexpr uint32_t kMinTrailerPosition = 1000;

// Offsets in the block.
inline constexpr size_t kBlockMagic = 0;
inline constexpr size_t kFolderId = 4;
inline constexpr size_t kKey = 8;
inline constexpr size_t kScrambled = 12; // folder name, then table magic, table size, stream
inline constexpr size_t kTrailerSize = 8;

enum class Error {
    None,
    InvalidData,      // "Invalid data in the file!"
    ReadFailed,       // "Failed to read data from the file!"
    ReadOrInvalid,    // "Failed to read file or invalid data in file!"
    NoMemory,         // "Insufficient memory!"
    DecompressFailed, // "Failed to decompress data!"
};
std::string_view Describe(Error e);

template <typename T> using Result = rt::Result<T, Error>;

// Where the payload is read from: the executable file, or memory in tests.
class Source {
  public:
    virtual ~Source() = default;
    // Positions the source `back` bytes before its end; the new position, or nothing on failure.
    virtual std::optional<uint64_t> SeekFromEnd(uint64_t back) = 0;
    // Reads up to n bytes at the position; the count read, or nothing on a read error.
    virtual std::optional<size_t> Read(uint8_t *out, size_t n) = 0;
};

class MemorySource final : public Source {
  public:
    explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    std::optional<uint64_t> SeekFromEnd(uint64_t back) override;
    std::optional<size_t> Read(uint8_t *out, size_t n) override;

  private:
    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

class FileSource final : public Source {
  public:
    explicit FileSource(int fd) : fd_(fd) {}
    std::optional<uint64_t> SeekFromEnd(uint64_t back) override;
    std::optional<size_t> Read(uint8_t *out, size_t n) override;

  private:
    int fd_;
};

// XORs count bytes in place: byte j with key byte (j + 1) mod 4, K0 the lowest. Its own inverse.
void ScramblePayload(uint8_t *bytes, int64_t count, uint32_t key);

// Reads and checks the trailer, then reads the S block bytes into one buffer and checks its magic.
Result<std::vector<uint8_t>> ReadPayloadBlock(Source &source);

struct DecodedBlock {
    uint32_t folderId;
    std::string folderName; // may be empty
    int32_t tableSize;      // U, the declared size of the file table
    size_t streamOffset;    // in the block
    size_t streamLength;    // to the end of the block
};
// Unscrambles the block in place and reads its fields. A block too short for its fields or whose
// folder name has no NUL is invalid data; so are a wrong table magic, U <= 0 and S <= 20.
Result<DecodedBlock> DecodePayloadBlock(std::vector<uint8_t> &block);

// Decompresses one complete zlib stream into at most U bytes (a longer table fails).
Result<std::vector<uint8_t>> InflateFileTable(const uint8_t *stream, size_t length, int32_t tableSize);

struct FileEntry {
    std::string_view name;
    std::span<const uint8_t> content;
    size_t next; // position of the next entry
};
// The entry at a position before the end of the table; an entry that runs past the end is invalid data.
Result<FileEntry> NextFileEntry(std::span<const uint8_t> table, size_t position);

// Whether a name can be used as one file name in a folder on either platform: not empty, no "/", "\",
// ":" or other character Windows reserves, no control character, no dot or space at the end (which
// covers "." and ".."), and no device name ("NUL", "con.txt").
bool IsSafeName(std::string_view name);

// Builds a payload (block and trailer) from files: the writer's side, for tools/mkpayload and tests.
struct PayloadFile {
    std::string name;
    std::vector<uint8_t> content;
};
std::vector<uint8_t> BuildPayload(const std::vector<PayloadFile> &files, uint32_t folderId, std::string_view folderName,
                                  uint32_t key);
// The file table's bytes and its zlib stream, for tests that build unusual payloads.
std::vector<uint8_t> BuildFileTable(const std::vector<PayloadFile> &files);
std::vector<uint8_t> Compress(std::span<const uint8_t> bytes);
// A block and trailer from parts, scrambled: tests use it with tampered fields.
std::vector<uint8_t> AssembleBlock(uint32_t folderId, std::string_view folderName, uint32_t key, uint32_t tableMagic,
                                   int32_t tableSize, std::span<const uint8_t> stream);

} // namespace payload
