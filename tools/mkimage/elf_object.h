// A bounded reader of ELF64 x86-64 relocatable objects: sections, symbols and RELA relocations.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/result.h"

namespace mkimage {

struct Section {
    std::string name;
    uint32_t type = 0;
    uint64_t flags = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t link = 0;
    uint32_t info = 0;
    uint64_t align = 1;
    std::span<const uint8_t> bytes; // empty for SHT_NOBITS
};

struct Symbol {
    std::string name;
    uint8_t type = 0;     // STT_*
    uint8_t binding = 0;  // STB_*
    uint16_t section = 0; // SHN_UNDEF, SHN_ABS, SHN_COMMON, or an index
    uint64_t value = 0;
    uint64_t size = 0;
};

struct Relocation {
    uint32_t section; // the section the relocation applies to
    uint64_t offset;
    uint32_t symbol;
    uint32_t type;
    int64_t addend;
};

struct ElfObject {
    std::vector<Section> sections;
    std::vector<Symbol> symbols;
    std::vector<Relocation> relocations;
};

enum class ElfError {
    NotElf,               // no ELF magic, or shorter than the ELF header
    NotElf64,             // not a 64-bit little-endian ELF file
    NotRelocatable,       // not an x86-64 relocatable object
    SectionTableOutside,  // the section header table lies outside the file
    SectionOutside,       // a section's bytes lie outside the file
    SectionNameOutside,   // a section's name lies outside the names
    TwoSymbolTables,      // more than one symbol table
    SymbolsWithoutNames,  // the symbol table names no string table
    SymbolNameOutside,    // a symbol's name lies outside the strings
    RelRelocations,       // REL relocations (RELA expected)
    RelocatesNoSection,   // relocations for a section that does not exist
    RelocatesNoSymbol,    // a relocation names a symbol that does not exist
};
std::string_view Describe(ElfError e);

// Parses the object, or says what is wrong and where.
rt::Result<ElfObject, rt::Finding<ElfError>> ParseElfObject(std::span<const uint8_t> bytes);

} // namespace mkimage
