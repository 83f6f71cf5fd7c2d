// The runtime contract as the application code sees it.
//
// Application code (trace/, ipdb/, ui/) reaches the world only through the twelve service entry
// points declared here. In the program image each one is a 6-byte stub at the end of the code
// segment that jumps through its service slot; in the direct host the runtime library defines them.
// This header is freestanding: no C or C++ library, no exceptions, no globals.
#pragma once

#include "abi.h"

typedef char *Text;             // a runtime text, owned by whoever received it
typedef const char *TextArg;    // a text passed as an argument; stays the caller's
typedef uint8_t *ByteSet;       // a runtime byte set: RtArrayHeader, size, bytes
typedef void *Array;            // any runtime array

extern "C" {
// slot 0x00: runtime error; reports kind, subroutine identifier and position, never returns
[[noreturn]] void RtError(int32_t kind, uint32_t subroutine, int32_t position);
// slot 0x04: the DLL command whose index is in EAX; reached through the thunks of dll.h only
void RtDllCommand();
// slot 0x08: command of the support library in the given row of the library table
RtResult RtLibraryCommand(uint32_t row, uint32_t command, uint32_t count, const RtTriple *args);
// slot 0x0c: core library command
RtResult RtCoreCommand(uint32_t command, uint32_t count, const RtTriple *args);
// slot 0x10: a unit's property value
uint64_t RtGetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t index);
// slot 0x14: sets a unit's property
void RtSetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t index, uint64_t value);
// slot 0x18: a new block of that many bytes; the caller fills it
void *RtAlloc(uint32_t size);
// slot 0x20: frees a block the runtime handed out
void RtFree(void *block);
// slot 0x24: ends the program with that exit code
[[noreturn]] void RtExit(int32_t code);
// slot 0x28: dispatches window events to the image's handlers until the program is to end
void RtRunEvents();
// slot 0x2c: builds that window from the form segment and shows it
void RtShowWindow(uint32_t window);
// slot 0x30: selector 3: the start routine (a = routine); selector 2: the array field at a is about
// to receive b native bytes and must hold an array of that size
void RtRegister(uint32_t selector, uintptr_t a, uintptr_t b);
}

// Identifiers are absolute symbols: the image builder gives them their values and records each site
// that uses one, and the direct host defines them in an assembly file. This turns such a symbol into
// the 32-bit immediate the code holds.
#define RT_SYMBOL_VALUE(symbol) ((uint32_t)(uintptr_t)(symbol))

// ---- Argument triples -------------------------------------------------------------------------

inline RtTriple ArgOmitted() { return RtTriple{0, 0, RtTypeOmitted}; }
inline RtTriple ArgText(TextArg text) {
    uint64_t v = (uint64_t)(uintptr_t)text;
    return RtTriple{(uint32_t)v, (uint32_t)(v >> 32), RtTypeText};
}
inline RtTriple ArgBytes(const uint8_t *bytes) {
    uint64_t v = (uint64_t)(uintptr_t)bytes;
    return RtTriple{(uint32_t)v, (uint32_t)(v >> 32), RtTypeBytes};
}
inline RtTriple ArgInt(int32_t value) { return RtTriple{(uint32_t)value, value < 0 ? 0xFFFFFFFFu : 0u, RtTypeInt}; }
inline RtTriple ArgByte(uint8_t value) { return RtTriple{value, 0, RtTypeByte}; }
inline RtTriple ArgLong(int64_t value) {
    return RtTriple{(uint32_t)(uint64_t)value, (uint32_t)((uint64_t)value >> 32), RtTypeLong};
}
inline RtTriple ArgDouble(double value) {
    uint64_t bits = __builtin_bit_cast(uint64_t, value);
    return RtTriple{(uint32_t)bits, (uint32_t)(bits >> 32), RtTypeDouble};
}
inline RtTriple ArgRoutine(void (*routine)()) {
    uint64_t v = (uint64_t)(uintptr_t)routine;
    return RtTriple{(uint32_t)v, (uint32_t)(v >> 32), RtTypeRoutine};
}
// A unit passed to a method: one argument triple whose three words are the window, unit and unit
// type identifiers.
struct UnitRef {
    uint32_t window;
    uint32_t unit;
    uint32_t type;
};
inline RtTriple ArgUnit(UnitRef u) { return RtTriple{u.window, u.unit, u.type}; }

// Calls a core command with the given triples.
template <typename... Args> inline RtResult Core(uint32_t command, Args... args) {
    const RtTriple triples[] = {args..., ArgOmitted()};
    return RtCoreCommand(command, sizeof...(Args), triples);
}
// Calls a support-library command by its row in the library table.
template <typename... Args> inline RtResult Library(uint32_t row, uint32_t command, Args... args) {
    const RtTriple triples[] = {args..., ArgOmitted()};
    return RtLibraryCommand(row, command, sizeof...(Args), triples);
}

inline Text ResultText(RtResult r) { return (Text)(uintptr_t)r.value; }
inline ByteSet ResultBytes(RtResult r) { return (ByteSet)(uintptr_t)r.value; }
inline int32_t ResultInt(RtResult r) { return (int32_t)r.value; }
inline int64_t ResultLong(RtResult r) { return (int64_t)r.value; }
inline double ResultDouble(RtResult r) { return __builtin_bit_cast(double, r.value); }
