#include "elf_object.h"

#include <elf.h>

#include "formats/byte_reader.h"

namespace mkimage {
namespace {

constexpr size_t kIdentClass = 4, kIdentData = 5, kType = 0x10, kMachine = 0x12;

// Where the fields of the records lie, and how large the records are, in each class.
struct Layout {
    size_t headerSize;
    size_t shOff, shEntSize, shNum, shStrNdx; // in the file header
    size_t sectionHeaderSize, shName, shType, shFlags, shOffset, shSize, shLink, shInfo, shAlign;
    size_t symbolSize, stName, stInfo, stShndx, stValue, stSize;
    size_t relocationSize, rOffset, rInfo; // REL (ELF32) or RELA (ELF64)
    size_t rAddend;                        // RELA only
};
constexpr Layout kElf64{64,   0x28, 0x3A, 0x3C, 0x3E, 64, 0, 4,  8,  0x18, 0x20, 0x28,
                        0x2C, 0x30, 24,   0,    4,    6,  8, 16, 24, 0,    8,    16};
constexpr Layout kElf32{52,   0x20, 0x2E, 0x30, 0x32, 40, 0, 4, 8, 0x10, 0x14, 0x18,
                        0x1C, 0x20, 16,   0,    12,   14, 4, 8, 8, 0,    4,    0};

RelocationKind KindOf(Machine machine, uint32_t type) {
    if (machine == Machine::X86_64) {
        if (type == R_X86_64_32 || type == R_X86_64_32S) return RelocationKind::Absolute32;
        if (type == R_X86_64_PC32 || type == R_X86_64_PLT32) return RelocationKind::PcRelative32;
    } else {
        if (type == R_386_32) return RelocationKind::Absolute32;
        if (type == R_386_PC32 || type == R_386_PLT32) return RelocationKind::PcRelative32;
    }
    return RelocationKind::Other;
}

std::optional<std::string> Name(const ByteReader &strings, uint32_t offset) {
    auto t = strings.text(offset);
    if (!t) return std::nullopt;
    return std::string(*t);
}

} // namespace

std::string_view Describe(ElfError e) {
    switch (e) {
    case ElfError::NotElf: return "not an ELF file";
    case ElfError::NotElf64: return "not a 64-bit or 32-bit little-endian ELF file";
    case ElfError::NotRelocatable: return "not an x86-64 or i386 relocatable object";
    case ElfError::SectionTableOutside: return "section header table out of bounds";
    case ElfError::SectionOutside: return "the section lies outside the file";
    case ElfError::SectionNameOutside: return "section name out of bounds";
    case ElfError::TwoSymbolTables: return "more than one symbol table";
    case ElfError::SymbolsWithoutNames: return "symbol table without strings";
    case ElfError::SymbolNameOutside: return "symbol name out of bounds";
    case ElfError::RelRelocations: return "relocations of the wrong form (RELA in ELF64, REL in ELF32 expected)";
    case ElfError::RelocatesNoSection: return "relocations for a missing section";
    case ElfError::RelocatesNoSymbol: return "a relocation names a missing symbol";
    }
    return "unknown problem";
}

rt::Result<ElfObject, rt::Finding<ElfError>> ParseElfObject(std::span<const uint8_t> bytes) {
    ByteReader r(bytes);
    using F = rt::Finding<ElfError>;
    auto fail = [](ElfError e, std::string where = {}) { return F{e, std::move(where)}; };
    if (!r.has(0, 52) || bytes[0] != 0x7F || bytes[1] != 'E' || bytes[2] != 'L' || bytes[3] != 'F')
        return fail(ElfError::NotElf);
    bool wide = bytes[kIdentClass] == ELFCLASS64;
    if ((!wide && bytes[kIdentClass] != ELFCLASS32) || bytes[kIdentData] != ELFDATA2LSB || !r.has(0, wide ? 64 : 52))
        return fail(ElfError::NotElf64);
    const Layout &L = wide ? kElf64 : kElf32;
    if (r.u16le(kType) != ET_REL || r.u16le(kMachine) != (wide ? EM_X86_64 : EM_386))
        return fail(ElfError::NotRelocatable);
    // An address-sized field: 8 bytes in ELF64, 4 in ELF32.
    auto word = [wide](const ByteReader &from, size_t at) {
        return wide ? *from.u64le(at) : uint64_t(*from.u32le(at));
    };

    ElfObject object;
    object.machine = wide ? Machine::X86_64 : Machine::I386;
    uint64_t shoff = word(r, L.shOff);
    uint16_t shentsize = *r.u16le(L.shEntSize), shnum = *r.u16le(L.shNum), shstrndx = *r.u16le(L.shStrNdx);
    if (shentsize != L.sectionHeaderSize || shstrndx >= shnum || shoff > bytes.size() ||
        !r.has(size_t(shoff), size_t(shnum) * L.sectionHeaderSize))
        return fail(ElfError::SectionTableOutside);

    std::vector<uint32_t> nameOffsets;
    for (uint16_t i = 0; i < shnum; ++i) {
        size_t h = size_t(shoff) + size_t(i) * L.sectionHeaderSize;
        Section s;
        nameOffsets.push_back(*r.u32le(h + L.shName));
        s.type = *r.u32le(h + L.shType);
        s.flags = word(r, h + L.shFlags);
        s.offset = word(r, h + L.shOffset);
        s.size = word(r, h + L.shSize);
        s.link = *r.u32le(h + L.shLink);
        s.info = *r.u32le(h + L.shInfo);
        s.align = word(r, h + L.shAlign);
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
        if (s.type != SHT_SYMTAB) continue;
        if (!object.symbols.empty()) return fail(ElfError::TwoSymbolTables);
        if (s.link >= object.sections.size()) return fail(ElfError::SymbolsWithoutNames);
        ByteReader strings(object.sections[s.link].bytes), symbols(s.bytes);
        for (size_t at = 0; at + L.symbolSize <= s.bytes.size(); at += L.symbolSize) {
            Symbol sym;
            auto n = Name(strings, *symbols.u32le(at + L.stName));
            if (!n) return fail(ElfError::SymbolNameOutside);
            sym.name = *n;
            uint8_t info = *symbols.u8(at + L.stInfo);
            sym.type = info & 0xF;
            sym.binding = info >> 4;
            sym.section = *symbols.u16le(at + L.stShndx);
            sym.value = word(symbols, at + L.stValue);
            sym.size = word(symbols, at + L.stSize);
            object.symbols.push_back(sym);
        }
    }
    uint32_t expected = wide ? SHT_RELA : SHT_REL, other = wide ? SHT_REL : SHT_RELA;
    for (uint32_t i = 0; i < object.sections.size(); ++i) {
        const Section &s = object.sections[i];
        if (s.type == other) return fail(ElfError::RelRelocations, s.name);
        if (s.type != expected) continue;
        if (s.info >= object.sections.size()) return fail(ElfError::RelocatesNoSection, s.name);
        ByteReader relocs(s.bytes);
        ByteReader target(object.sections[s.info].bytes);
        for (size_t at = 0; at + L.relocationSize <= s.bytes.size(); at += L.relocationSize) {
            uint64_t info = word(relocs, at + L.rInfo);
            Relocation rel{s.info,
                           word(relocs, at + L.rOffset),
                           uint32_t(wide ? info >> 32 : info >> 8),
                           uint32_t(wide ? info & 0xFFFFFFFF : info & 0xFF),
                           0,
                           RelocationKind::Other};
            if (rel.symbol >= object.symbols.size()) return fail(ElfError::RelocatesNoSymbol, s.name);
            rel.kind = KindOf(object.machine, rel.type);
            if (wide) {
                rel.addend = int64_t(*relocs.u64le(at + L.rAddend));
            } else {
                // REL: the addend is what the site holds. A site outside its section keeps 0; the
                // image builder refuses it.
                auto held = rel.offset <= SIZE_MAX ? target.u32le(size_t(rel.offset)) : std::nullopt;
                rel.addend = held ? int64_t(int32_t(*held)) : 0;
            }
            object.relocations.push_back(rel);
        }
    }
    return object;
}

} // namespace mkimage
