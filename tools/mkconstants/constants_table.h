// The table of the image's const segment, written in UTF-8 (app/constants.table), and what is made
// of it: the GBK assembly that places each constant and the header that declares it. Each row states
// the offset the constant has in the segment; a table whose rows do not add up to those offsets, or
// that holds a text GBK cannot encode or a name twice, is refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rt::constants {

enum class Kind {
    Text,   // NUL-terminated GBK text
    Double, // 8-byte IEEE double, stored unaligned
    Words,  // u32 words: an array's dimension count and sizes
    ByteSet // a one-dimensional byte set: dimension count 1, size, then the bytes
};

struct Constant {
    uint32_t offset = 0; // where the row says the constant starts in the segment
    std::string name;    // the symbol, named by what the constant is for
    Kind kind = Kind::Text;
    std::string value;          // the value as written in the table (for texts: without quotes)
    std::vector<uint8_t> bytes; // what the segment holds for it
    std::string purpose;        // the row's description
};

struct Table {
    std::vector<Constant> constants;
    uint32_t end = 0; // the offset behind the last constant, where the image builder goes on
};

struct ParseResult {
    Table table;
    std::string error; // empty when the table was accepted; otherwise "line N: what is wrong"
};

ParseResult ParseTable(std::string_view utf8);

// The assembly (section .rtconst, the constants in table order) and the header declaring them.
std::string AssemblySource(const Table &table, std::string_view tableName);
std::string HeaderSource(const Table &table, std::string_view tableName);

// The segment's bytes as the table lays them out, from offset 0 to `end`.
std::vector<uint8_t> SegmentBytes(const Table &table);

} // namespace rt::constants
