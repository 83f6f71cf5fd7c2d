// The layout of the program image: header, DLL command table, library table, segment chain,
// relocation entries and identifier fixups. Shared by the image builder, the loader and the tests.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "contract/abi.h"

namespace image {

// ---- Header (offsets from the image's first byte) ----
inline constexpr uint32_t kFirstSegment = 0x24; // offset of the first segment header
inline constexpr uint32_t kUnsettled28 = 0x28;  // 1
inline constexpr uint32_t kUnsettled2C = 0x2C;  // 3
inline constexpr uint32_t kUnsettled30 = 0x30;  // 0
inline constexpr uint32_t kUnsettled34 = 0x34;  // 0x0001014F
inline constexpr uint32_t kDllCount = 0x38;     // number N of DLL commands
inline constexpr uint32_t kStartRoutine = 0x3C; // start routine, offset in the code segment's data
inline constexpr uint32_t kConstHeader = 0x40;
inline constexpr uint32_t kFormHeader = 0x44;
inline constexpr uint32_t kHelpHeader = 0x48;
inline constexpr uint32_t kCodeHeader = 0x4C;
inline constexpr uint32_t kVarHeader = 0x50;
inline constexpr uint32_t kConstHeaderAgain = 0x54;
inline constexpr uint32_t kDllNames = 0x58; // N file name offsets, then N function name offsets
inline constexpr uint32_t kHeaderValues[4] = {1, 3, 0, 0x0001014F};
inline constexpr uint32_t kMaxDllCommands = RtMaxDllCommands;
inline constexpr uint32_t kMaxLibraryRows = 64;

// ---- Segment header ----
inline constexpr uint32_t kSegHeaderSize = 0; // 56 + 4 x relocation count
inline constexpr uint32_t kSegNext = 4;       // next header, kNone in the last
inline constexpr uint32_t kSegFlags = 8;
inline constexpr uint32_t kSegName = 12; // 24 bytes, NUL-padded
inline constexpr uint32_t kSegMemorySize = 36;
inline constexpr uint32_t kSegDataSize = 40;   // 0 when nothing is stored
inline constexpr uint32_t kSegDataOffset = 44; // kNone when nothing is stored
inline constexpr uint32_t kSegRelocCount = 48;
inline constexpr uint32_t kSegZero = 52;
inline constexpr uint32_t kSegRelocs = 56;
inline constexpr uint32_t kSegBaseSize = 56;
inline constexpr uint32_t kSegNameSize = 24;
inline constexpr uint32_t kNone = 0xFFFFFFFF;
inline constexpr uint32_t kMaxSegments = 16;

struct SegmentKind {
    std::string_view name;
    uint32_t flags;
};
// The segments in chain order with their flags.
inline constexpr std::array<SegmentKind, 6> kSegments = {{
    {"const", 1},
    {"form", 1},
    {"help", 1},
    {"code", 5},
    {"var", 0x13},
    {"@reloc1", 1},
}};
inline constexpr uint32_t kHelpSize = 56;  // the help segment's zero bytes
inline constexpr uint32_t kVarMinimum = 4; // CurrentRow

// ---- Code order ----
// Sections named with these prefixes and a number go first and last in the code segment, in the
// order of their numbers; every other code section lies between them.
inline constexpr std::string_view kCodeFirstSections = ".text.rt.first.";
inline constexpr std::string_view kCodeLastSections = ".text.rt.last.";

// ---- Code relocation entries: bits 3..31 the offset in the code segment's data, bits 0..2 the kind ----
enum class RelocKind : uint32_t {
    ServiceTable = 0, // value: slot offset
    Const = 1,        // value: offset in the const segment's data
    Var = 2,          // value: offset in the var segment
    Code = 3,         // value: offset in the code segment's data
};
inline constexpr uint32_t EncodeReloc(uint32_t offset, RelocKind kind) { return offset << 3 | uint32_t(kind); }
inline constexpr uint32_t RelocOffset(uint32_t entry) { return entry >> 3; }
inline constexpr uint32_t RelocKindOf(uint32_t entry) { return entry & 7; }

// ---- @reloc1: four groups, each a count and that many code offsets of 32-bit immediates ----
enum class FixupGroup : uint32_t { Units = 0, DllIndexes = 1, LibraryRows = 2, UnitTypes = 3 };
inline constexpr uint32_t kFixupGroups = 4;
// The stated size of the segment is four bytes short of what its groups occupy.
inline constexpr uint32_t kReloc1SizeShortfall = 4;

// ---- Service slots and stubs ----
inline constexpr uint32_t kSlotCount = 13; // slots 0x00 to 0x30, four bytes each (0x1C unused)
struct ServiceSlot {
    std::string_view symbol; // the entry point the application calls
    uint32_t slot;
};
// The stubs at the end of the code segment, in the order of contract/services.def.
inline constexpr ServiceSlot kStubOrder[] = {
#define SERVICE(slot, name, result, parameters, arguments) {#name, slot},
#define DLL_SERVICE(slot, name) {#name, slot},
#include "contract/services.def"
#undef SERVICE
#undef DLL_SERVICE
};
// A stub on x86-64: mov r11d, [slot] (the slot address is a 32-bit absolute operand); jmp r11.
inline constexpr std::array<uint8_t, 11> kStubBytes = {0x44, 0x8B, 0x1C, 0x25, 0, 0, 0, 0, 0x41, 0xFF, 0xE3};
inline constexpr uint32_t kStubOperand = 4;
// A stub on i386, six bytes: jmp dword [slot], the slot's absolute address at byte 2.
inline constexpr std::array<uint8_t, 6> kStubBytesI386 = {0xFF, 0x25, 0, 0, 0, 0};
inline constexpr uint32_t kStubOperandI386 = 2;

} // namespace image
