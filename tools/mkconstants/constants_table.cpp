#include "constants_table.h"

#include "formats/text/text.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

namespace rt::constants {

static_assert(std::endian::native == std::endian::little, "the segment's numbers are little-endian");

namespace {

// One row's fields, read left to right.
class Row {
  public:
    explicit Row(std::string_view line) : rest_(line) {}

    std::string_view Word() {
        SkipBlanks();
        size_t n = 0;
        while (n < rest_.size() && rest_[n] != ' ' && rest_[n] != '\t') ++n;
        std::string_view word = rest_.substr(0, n);
        rest_.remove_prefix(n);
        return word;
    }

    // A text in double quotes with \\, \", \r, \n and \t; nothing when it is malformed.
    std::optional<std::string> Quoted(std::string &written) {
        SkipBlanks();
        if (rest_.empty() || rest_[0] != '"') return std::nullopt;
        std::string text;
        for (size_t i = 1; i < rest_.size(); ++i) {
            char c = rest_[i];
            if (c == '"') {
                written = std::string(rest_.substr(1, i - 1));
                rest_.remove_prefix(i + 1);
                return text;
            }
            if (c != '\\') {
                text += c;
                continue;
            }
            if (++i == rest_.size()) break;
            switch (rest_[i]) {
            case '\\': text += '\\'; break;
            case '"': text += '"'; break;
            case 'r': text += '\r'; break;
            case 'n': text += '\n'; break;
            case 't': text += '\t'; break;
            default: return std::nullopt;
            }
        }
        return std::nullopt;
    }

    // What is left: the row's description, behind an optional "--".
    std::string Purpose() {
        SkipBlanks();
        if (rest_.starts_with("--")) rest_.remove_prefix(2);
        SkipBlanks();
        while (!rest_.empty() && (rest_.back() == ' ' || rest_.back() == '\t' || rest_.back() == '\r'))
            rest_.remove_suffix(1);
        return std::string(rest_);
    }

  private:
    void SkipBlanks() {
        while (!rest_.empty() && (rest_[0] == ' ' || rest_[0] == '\t')) rest_.remove_prefix(1);
    }
    std::string_view rest_;
};

std::optional<uint32_t> Number(std::string_view word) {
    std::string s(word);
    if (s.empty() || s[0] == '-' || s[0] == '+') return std::nullopt;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(v);
}

// A decimal floating literal that C++ reads the same way (the header repeats it as a constexpr).
std::optional<double> DoubleLiteral(std::string_view word) {
    if (word.empty() || word.find_first_not_of("0123456789.eE+-") != std::string_view::npos) return std::nullopt;
    std::string s(word);
    char *end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (*end != '\0') return std::nullopt;
    return v;
}

std::optional<std::vector<uint32_t>> NumberList(std::string_view word) {
    std::vector<uint32_t> list;
    while (!word.empty()) {
        size_t comma = word.find(',');
        auto n = Number(word.substr(0, comma));
        if (!n) return std::nullopt;
        list.push_back(*n);
        if (comma == std::string_view::npos) break;
        word.remove_prefix(comma + 1);
        if (word.empty()) return std::nullopt;
    }
    if (list.empty()) return std::nullopt;
    return list;
}

void PutWord(std::vector<uint8_t> &bytes, uint32_t w) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(w >> (8 * i)));
}

bool IsName(std::string_view name) {
    if (!name.starts_with("K_") || name.size() < 3) return false;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

std::string LineError(size_t line, const std::string &what) { return "line " + std::to_string(line) + ": " + what; }

std::string Offset(uint32_t v) { return Hex(v, 3); }

// How the header and the assembly mention a constant's value.
std::string Shown(const Constant &c) {
    switch (c.kind) {
    case Kind::Text: return "\"" + c.value + "\"";
    case Kind::Double: return "double " + c.value;
    case Kind::Words: return "words " + c.value;
    case Kind::ByteSet: return "byte set {" + c.value + "}";
    }
    return c.value;
}

std::string Described(const Constant &c) { return c.purpose.empty() ? Shown(c) : Shown(c) + " - " + c.purpose; }

constexpr const char *kAssemblyOpening =
    "// The const segment's constants, packed in this order at the start of the segment (the image\n"
    "// builder places this section first). Texts are GBK and NUL-terminated.\n\n"
    "#include \"contract/asm.h\"\n\n    RT_RODATA_SECTION(.rtconst)\n    .p2align 0\n";
constexpr const char *kHeaderOpening =
    "// The const segment's constants.\n#pragma once\n\n#include <stdint.h>\n\nextern \"C\" {\n";

std::string GeneratedFrom(std::string_view tableName) {
    return "// Made from " + std::string(tableName) + " by tools/mkconstants; change the table, not this file.\n";
}

} // namespace

ParseResult ParseTable(std::string_view utf8) {
    ParseResult result;
    Table &table = result.table;
    std::map<std::string, size_t, std::less<>> seen; // name -> line
    uint32_t at = 0;
    bool ended = false;
    size_t lineNumber = 0;
    while (!utf8.empty()) {
        size_t eol = utf8.find('\n');
        std::string_view line = utf8.substr(0, eol);
        utf8.remove_prefix(eol == std::string_view::npos ? utf8.size() : eol + 1);
        ++lineNumber;
        if (line.ends_with('\r')) line.remove_suffix(1); // a table saved with CR LF line ends
        Row row(line);
        std::string_view first = row.Word();
        if (first.empty() || first[0] == '#') continue;
        auto fail = [&](const std::string &what) {
            result.error = LineError(lineNumber, what);
            return result;
        };
        if (ended) return fail("a row behind the end row");
        auto offset = Number(first);
        if (!offset) return fail("\"" + std::string(first) + "\" is no offset");
        std::string_view name = row.Word();
        if (name == "end") {
            if (*offset != at)
                return fail("the constants end at " + Offset(at) + ", the table says " + Offset(*offset));
            table.end = at;
            ended = true;
            continue;
        }
        Constant c;
        c.offset = *offset;
        c.name = std::string(name);
        if (!IsName(name)) return fail("\"" + c.name + "\" is no name (K_ and letters, digits or _)");
        if (auto before = seen.find(name); before != seen.end())
            return fail(c.name + " is named twice (first on line " + std::to_string(before->second) + ")");
        seen.emplace(c.name, lineNumber);
        if (*offset != at) return fail(c.name + " starts at " + Offset(at) + ", the table says " + Offset(*offset));
        std::string_view kind = row.Word();
        if (kind == "text") {
            c.kind = Kind::Text;
            auto text = row.Quoted(c.value);
            if (!text) return fail(c.name + ": a text in double quotes (escapes \\\\ \\\" \\r \\n \\t)");
            if (text->find('\0') != std::string::npos) return fail(c.name + ": a text holds no NUL");
            auto gbk = Utf8ToGbkExact(*text);
            if (!gbk) return fail(c.name + ": \"" + c.value + "\" has a character GBK cannot hold");
            c.bytes.assign(gbk->begin(), gbk->end());
            c.bytes.push_back(0);
        } else if (kind == "double") {
            c.kind = Kind::Double;
            c.value = std::string(row.Word());
            auto v = DoubleLiteral(c.value);
            if (!v) return fail(c.name + ": \"" + c.value + "\" is no decimal number");
            uint8_t raw[8];
            std::memcpy(raw, &*v, 8);
            c.bytes.assign(raw, raw + 8);
        } else if (kind == "words" || kind == "byteset") {
            c.kind = kind == "words" ? Kind::Words : Kind::ByteSet;
            c.value = std::string(row.Word());
            auto list = NumberList(c.value);
            if (!list) return fail(c.name + ": \"" + c.value + "\" is no list of numbers (1,2,3)");
            if (c.kind == Kind::Words) {
                for (uint32_t w : *list) PutWord(c.bytes, w);
            } else {
                PutWord(c.bytes, 1);
                PutWord(c.bytes, static_cast<uint32_t>(list->size()));
                for (uint32_t b : *list) {
                    if (b > 0xFF) return fail(c.name + ": " + std::to_string(b) + " is no byte");
                    c.bytes.push_back(static_cast<uint8_t>(b));
                }
            }
        } else {
            return fail(c.name + ": \"" + std::string(kind) + "\" is no kind (text, double, words, byteset)");
        }
        c.purpose = row.Purpose();
        // The description ends a // comment in both made files, where a backslash would join the
        // next line to it.
        if (c.purpose.ends_with('\\')) return fail(c.name + ": a description does not end with a backslash");
        at += static_cast<uint32_t>(c.bytes.size());
        table.constants.push_back(std::move(c));
    }
    if (!ended) result.error = LineError(lineNumber, "no end row (OFFSET end) states where the constants end");
    return result;
}

std::string AssemblySource(const Table &table, std::string_view tableName) {
    std::string s = GeneratedFrom(tableName) + kAssemblyOpening;
    for (const Constant &c : table.constants) {
        s += "\n    .globl RT_C_NAME(" + c.name + ")  // " + Offset(c.offset) + ": " + Described(c) + "\n";
        s += "RT_C_NAME(" + c.name + "):\n";
        size_t i = 0;
        if (c.kind == Kind::Words || c.kind == Kind::ByteSet) {
            size_t words = c.kind == Kind::Words ? c.bytes.size() / 4 : 2;
            s += "    .long ";
            for (size_t w = 0; w < words; ++w, i += 4) {
                uint32_t v = c.bytes[i] | c.bytes[i + 1] << 8 | c.bytes[i + 2] << 16 |
                             static_cast<uint32_t>(c.bytes[i + 3]) << 24;
                s += (w ? ", " : "") + std::to_string(v);
            }
            s += "\n";
        }
        if (i < c.bytes.size()) {
            s += "    .byte ";
            for (size_t b = i; b < c.bytes.size(); ++b) s += (b > i ? ", " : "") + Hex(c.bytes[b], 2);
            s += "\n";
        }
    }
    s += "\n// The DLL names follow at " + Offset(table.end) +
         "; the image builder adds them from the DLL command table.\n"
         "    RT_END_OF_FILE\n";
    return s;
}

std::string HeaderSource(const Table &table, std::string_view tableName) {
    std::string s = GeneratedFrom(tableName) + kHeaderOpening;
    for (const Constant &c : table.constants) {
        switch (c.kind) {
        case Kind::Text: s += "extern const char " + c.name + "[];"; break;
        case Kind::Words:
            s += "extern const uint32_t " + c.name + "[" + std::to_string(c.bytes.size() / 4) + "];";
            break;
        case Kind::Double:
        case Kind::ByteSet:
            s += "extern const unsigned char " + c.name + "[" + std::to_string(c.bytes.size()) + "];";
            break;
        }
        s += " // " + Offset(c.offset) + ": " + Described(c) + "\n";
    }
    s += "}\n\n"
         "// The doubles' values where the code needs them as numbers at compile time (the size of a\n"
         "// read, say): the same constant, so one name stands for one thing.\n"
         "namespace const_value {\n";
    for (const Constant &c : table.constants)
        if (c.kind == Kind::Double) s += "inline constexpr double " + c.name + " = " + c.value + ";\n";
    s += "} // namespace const_value\n\n"
         "// A double of the const segment (stored unaligned).\n"
         "inline double ConstDouble(const unsigned char *bytes) {\n"
         "    double d;\n"
         "    __builtin_memcpy(&d, bytes, 8);\n"
         "    return d;\n"
         "}\n";
    return s;
}

std::vector<uint8_t> SegmentBytes(const Table &table) {
    std::vector<uint8_t> bytes;
    for (const Constant &c : table.constants) bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
    return bytes;
}

} // namespace rt::constants
