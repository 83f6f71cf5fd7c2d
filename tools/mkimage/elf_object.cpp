#include "elf_object.h"

#include <elf.h>

#include "formats/byte_reader.h"

namespace mkimage {
namespace {

// Field offsets of the ELF64 records (the ELF64 record layout).
constexpr size_t kIdentClass = 4, kIdentData = 5;
constexpr size_t kType = 0x10, kMachine = 0x12, kShOff = 0x28, kShEntSize = 0x3A, kShNum = 0x3C, kShStrNdx = 0x3E;
constexpr size_t kShName = 0, kShType = 4, kShFlags = 8, kShOffset = 0x18, kShSize = 0x20, kShLink = 0x28,
                 kShInfo = 0x2C, kShAlign = 0x30, kShEntSizeField = 0x38;
constexpr size_t kSectionHeaderSize = 64, kSymbolSize = 24, kRelaSize = 24;
constexpr size_t kStName = 0, kStInfo = 4, kStShndx = 6, kStValue = 8, kStSize = 16;
constexpr size_t kROffset = 0, kRInfo = 8, kRAddend = 16;

std::optional<std::string> Name(const ByteReader &strings, uint32_t offset) {
    auto t = strings.text(offset);
    if (!t) return std::nullopt;
    return std::string(*t);
}

} // namespace

std::string_view Describe(ElfError e) {
    switch (e) {
    case ElfError::NotElf: return "not an ELF file";
    case ElfError::NotElf64: return "not a 64-bit little-endian ELF file";
    case ElfError::NotRelocatable: return "not an x86-64 relocatable object";
    case ElfError::SectionTableOutside: return "section header table out of bounds";
    case ElfError::SectionOutside: return "the section lies outside the file";
    case ElfError::SectionNameOutside: return "section name out of bounds";
    case ElfError::TwoSymbolTables: return "more than one symbol table";
    case ElfError::SymbolsWithoutNames: return "symbol table without strings";
    case ElfError::SymbolNameOutside: return "symbol name out of bounds";
    case ElfError::RelRelocations: return "REL relocations (RELA expected)";
    case ElfError::RelocatesNoSection: return "relocations for a missing section";
    case ElfError::RelocatesNoSymbol: return "a relocation names a missing symbol";
    }
    return "unknown problem";
}

rt::Result<ElfObject, rt::Finding<ElfError>> ParseElfObject(std::span<const uint8_t> bytes) {
    ByteReader r(bytes);
    using F = rt::Finding<ElfError>;
    auto fail = [](ElfError e, std::string where = {}) { return F{e, std::move(where)}; };
    if (!r.has(0, 64) || bytes[0] != 0x7F || bytes[1] != 'E' || bytes[2] != 'L' || bytes[3] != 'F')
        return fail(ElfError::NotElf);
    if (bytes[kIdentClass] != ELFCLASS64 || bytes[kIdentData] != ELFDATA2LSB) return fail(ElfError::NotElf64);
    if (r.u16le(kType) != ET_REL || r.u16le(kMachine) != EM_X86_64) return fail(ElfError::NotRelocatable);

    uint64_t shoff = *r.u64le(kShOff);
    uint16_t shentsize = *r.u16le(kShEntSize), shnum = *r.u16le(kShNum), shstrndx = *r.u16le(kShStrNdx);
    if (shentsize != kSectionHeaderSize || shstrndx >= shnum || shoff > bytes.size() ||
        !r.has(size_t(shoff), size_t(shnum) * kSectionHeaderSize))
        return fail(ElfError::SectionTableOutside);

    ElfObject object;
    std::vector<uint32_t> nameOffsets;
    for (uint16_t i = 0; i < shnum; ++i) {
        size_t h = size_t(shoff) + size_t(i) * kSectionHeaderSize;
        Section s;
        nameOffsets.push_back(*r.u32le(h + kShName));
        s.type = *r.u32le(h + kShType);
        s.flags = *r.u64le(h + kShFlags);
        s.offset = *r.u64le(h + kShOffset);
        s.size = *r.u64le(h + kShSize);
        s.link = *r.u32le(h + kShLink);
        s.info = *r.u32le(h + kShInfo);
        s.align = *r.u64le(h + kShAlign);
        (void)kShEntSizeField;
        if (s.type != SHT_NOBITS && s.type != SHT_NULL) {
            if (s.offset > bytes.size() || s.size > bytes.size() - s.offset)
                return fail(ElfError::SectionOutside, "section " + std::to_string(i));
            s.bytes = bytes.subspan(size_t(s.offset), size_t(s.size));
        }
        object.sections.push_back(s);
    }
    ByteReader names(object.sections[shstrndx].bytes);
    for (size_t i = 0; i < object.sections.size(); ++i) {
        auto n = Name(names, nameOffsets[i]);
        if (!n) return fail(ElfError::SectionNameOutside, "section " + std::to_string(i));
        object.sections[i].name = *n;
    }

    for (uint32_t i = 0; i < object.sections.size(); ++i) {
        const Section &s = object.sections[i];
        if (s.type == SHT_SYMTAB) {
            if (!object.symbols.empty()) return fail(ElfError::TwoSymbolTables);
            if (s.link >= object.sections.size()) return fail(ElfError::SymbolsWithoutNames);
            ByteReader strings(object.sections[s.link].bytes), symbols(s.bytes);
            for (size_t at = 0; at + kSymbolSize <= s.bytes.size(); at += kSymbolSize) {
                Symbol sym;
                auto n = Name(strings, *symbols.u32le(at + kStName));
                if (!n) return fail(ElfError::SymbolNameOutside);
                sym.name = *n;
                uint8_t info = *symbols.u8(at + kStInfo);
                sym.type = info & 0xF;
                sym.binding = info >> 4;
                sym.section = *symbols.u16le(at + kStShndx);
                sym.value = *symbols.u64le(at + kStValue);
                sym.size = *symbols.u64le(at + kStSize);
                object.symbols.push_back(sym);
            }
        }
    }
    for (uint32_t i = 0; i < object.sections.size(); ++i) {
        const Section &s = object.sections[i];
        if (s.type == SHT_REL) return fail(ElfError::RelRelocations, s.name);
        if (s.type != SHT_RELA) continue;
        if (s.info >= object.sections.size()) return fail(ElfError::RelocatesNoSection, s.name);
        ByteReader relocs(s.bytes);
        for (size_t at = 0; at + kRelaSize <= s.bytes.size(); at += kRelaSize) {
            uint64_t info = *relocs.u64le(at + kRInfo);
            Relocation rel{s.info, *relocs.u64le(at + kROffset), uint32_t(info >> 32), uint32_t(info),
                           int64_t(*relocs.u64le(at + kRAddend))};
            if (rel.symbol >= object.symbols.size()) return fail(ElfError::RelocatesNoSymbol, s.name);
            object.relocations.push_back(rel);
        }
    }
    return object;
}

} // namespace mkimage
