// A bounded reader of relocatable objects: ELF64 x86-64 (RELA relocations) for the Linux image and
// ELF32 i386 (REL relocations, addends in the bytes they patch) for the 32-bit Windows image.
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

// The machine the object's code is for: it decides the service stubs' form.
enum class Machine { X86_64, I386 };

// What a relocation asks for, whichever machine's type number it had.
enum class RelocationKind {
    Absolute32,   // the target's 32-bit address (R_X86_64_32, R_X86_64_32S, R_386_32)
    PcRelative32, // the target's distance from the site (R_X86_64_PC32, R_X86_64_PLT32, R_386_PC32, R_386_PLT32)
    Other,        // anything else: refused by the image builder
};

struct Relocation {
    uint32_t section; // the section the relocation applies to
    uint64_t offset;
    uint32_t symbol;
    uint32_t type; // the machine's own type number
    int64_t addend;
    RelocationKind kind;
};

struct ElfObject {
    Machine machine = Machine::X86_64;
    std::vector<Section> sections;
    std::vector<Symbol> symbols;
    std::vector<Relocation> relocations;
};

enum class ElfError {
    NotElf,              // no ELF magic, or shorter than the ELF header
    NotElf64,            // neither a 64-bit nor a 32-bit little-endian ELF file
    NotRelocatable,      // not a relocatable object for x86-64 (ELF64) or i386 (ELF32)
    SectionTableOutside, // the section header table lies outside the file
    SectionOutside,      // a section's bytes lie outside the file
    SectionNameOutside,  // a section's name lies outside the names
    TwoSymbolTables,     // more than one symbol table
    SymbolsWithoutNames, // the symbol table names no string table
    SymbolNameOutside,   // a symbol's name lies outside the strings
    RelRelocations,      // relocations of the other form (RELA in ELF32, REL in ELF64)
    RelocatesNoSection,  // relocations for a section that does not exist
    RelocatesNoSymbol,   // a relocation names a symbol that does not exist
};
std::string_view Describe(ElfError e);

// Parses the object, or says what is wrong and where.
rt::Result<ElfObject, rt::Finding<ElfError>> ParseElfObject(std::span<const uint8_t> bytes);

} // namespace mkimage
