// The runtime contract as the application code sees it.
//
// Application code (app/) reaches the world only through the twelve service entry
// points declared here. In the program image each one is a small stub at the end of the code
// segment that jumps through its service slot; in the direct host the runtime library defines them.
// This header is freestanding: no C or C++ library, no exceptions, no globals.
#pragma once

#include "abi.h"
#include "commands.h"

typedef char *Text;          // a runtime text, owned by whoever received it
typedef const char *TextArg; // a text passed as an argument; stays the caller's
typedef uint8_t *ByteSet;    // a runtime byte set: RtArrayHeader, size, bytes
typedef void *Array;         // any runtime array

// The service entry points (services.def), one per slot: RtError (0x00), RtDllCommand (0x04, reached
// through the thunks of dll.h only), RtLibraryCommand (0x08), RtCoreCommand (0x0C), RtGetProperty and
// RtSetProperty (0x10, 0x14), RtAlloc and RtFree (0x18, 0x20: blocks the runtime hands out), RtExit
// (0x24), RtRunEvents (0x28: the window's events until the program ends), RtShowWindow (0x2C: builds
// the window from the form segment), RtRegister (0x30: selector 3 registers the start routine a;
// selector 2 makes the array field at a hold b native bytes).
extern "C" {
#define SERVICE(slot, name, result, parameters, arguments) result name parameters;
#define DLL_SERVICE(slot, name) void name();
#include "services.def"
#undef SERVICE
#undef DLL_SERVICE
}

// Identifiers are absolute symbols: the image builder gives them their values and records each site
// that uses one, and the direct host defines them in an assembly file. This turns such a symbol into
// the 32-bit immediate the code holds.
#define RT_SYMBOL_VALUE(symbol) ((uint32_t)(uintptr_t)(symbol))

// ---- Argument triples -------------------------------------------------------------------------

// A triple that knows its kind, as a letter of the command shapes (commands.def), so that a call is
// checked against its command's shape when it is compiled.
template <char Kind> struct Arg : RtTriple { static constexpr char kKind = Kind; };
inline Arg<'o'> ArgOmitted() { return {{0, 0, RtTypeOmitted}}; }
inline Arg<'t'> ArgText(TextArg text) {
    uint64_t v = (uint64_t)(uintptr_t)text;
    return {{(uint32_t)v, (uint32_t)(v >> 32), RtTypeText}};
}
inline Arg<'b'> ArgBytes(const uint8_t *bytes) {
    uint64_t v = (uint64_t)(uintptr_t)bytes;
    return {{(uint32_t)v, (uint32_t)(v >> 32), RtTypeBytes}};
}
inline Arg<'i'> ArgInt(int32_t value) { return {{(uint32_t)value, value < 0 ? 0xFFFFFFFFu : 0u, RtTypeInt}}; }
inline Arg<'y'> ArgByte(uint8_t value) { return {{value, 0, RtTypeByte}}; }
inline Arg<'l'> ArgLong(int64_t value) {
    return {{(uint32_t)(uint64_t)value, (uint32_t)((uint64_t)value >> 32), RtTypeLong}};
}
inline Arg<'d'> ArgDouble(double value) {
    uint64_t bits = __builtin_bit_cast(uint64_t, value);
    return {{(uint32_t)bits, (uint32_t)(bits >> 32), RtTypeDouble}};
}
inline Arg<'r'> ArgRoutine(void (*routine)()) {
    uint64_t v = (uint64_t)(uintptr_t)routine;
    return {{(uint32_t)v, (uint32_t)(v >> 32), RtTypeRoutine}};
}
// Where a shape allows an argument to be left out: the value, or left out.
inline Arg<'T'> ArgTextOrOmitted(TextArg text) { return {text ? ArgText(text) : RtTriple(ArgOmitted())}; }
inline Arg<'I'> ArgIntOrOmitted(bool present, int32_t value) {
    return {present ? ArgInt(value) : RtTriple(ArgOmitted())};
}

// A unit passed to a method: one argument triple whose three words are the window, unit and unit
// type identifiers.
struct UnitRef {
    uint32_t window;
    uint32_t unit;
    uint32_t type;
};
inline Arg<'u'> ArgUnit(UnitRef u) { return {{u.window, u.unit, u.type}}; }

namespace shape {
// An argument that may be left out fits where both its value and a left-out argument do.
template <typename A> constexpr bool FitsArg(char wanted) {
    return IsUpper(A::kKind) ? Fits(wanted, Lower(A::kKind)) && Fits(wanted, 'o') : Fits(wanted, A::kKind);
}
// Each argument fits its letter, none lies past the shape, and every letter after them may be left out.
template <typename... A> constexpr bool AcceptsArgs(const char *wanted) {
    unsigned i = 0;
    bool ok = true;
    ((ok = ok && wanted[i] != 0 && FitsArg<A>(wanted[i]), ++i), ...);
    for (; ok && wanted[i] != 0; ++i) ok = Fits(wanted[i], 'o');
    return ok;
}
} // namespace shape

// The immediate of a library row: the row's identifier symbol, which the image builder records.
#define UNIT_ID(name, value)
#define UNIT_TYPE(name, value)
#define LIBRARY_ROW(name, value) extern "C" char name[];
#include "identifiers.def"
#undef UNIT_ID
#undef UNIT_TYPE
#undef LIBRARY_ROW
template <uint32_t Row> inline uint32_t LibraryRowValue() {
#define UNIT_ID(name, value)
#define UNIT_TYPE(name, value)
#define LIBRARY_ROW(name, value)                              \
    if constexpr (Row == value) return RT_SYMBOL_VALUE(name); \
    else
#include "identifiers.def"
#undef UNIT_ID
#undef UNIT_TYPE
#undef LIBRARY_ROW
    return Row;
}

// Calls a command of the table (commands.def). The arguments must fit the command's shape; a call
// that does not is refused by the compiler.
template <const CommandEntry &C, typename... A> inline RtResult Call(A... args) {
    static_assert(shape::AcceptsArgs<A...>(C.shape), "the arguments do not fit the command's shape");
    const RtTriple triples[] = {args..., ArgOmitted()};
    if constexpr (C.row == kLibRow_Core) return RtCoreCommand(C.number, sizeof...(A), triples);
    else return RtLibraryCommand(LibraryRowValue<C.row>(), C.number, sizeof...(A), triples);
}

// The same without the shape check, for tests that pass wrong arguments on purpose.
template <typename... A> inline RtResult CallUnchecked(const CommandEntry &c, A... args) {
    const RtTriple triples[] = {args..., ArgOmitted()};
    if (c.row == kLibRow_Core) return RtCoreCommand(c.number, sizeof...(A), triples);
    return RtLibraryCommand(c.row, c.number, sizeof...(A), triples);
}

inline Text ResultText(RtResult r) { return (Text)(uintptr_t)r.value; }
inline ByteSet ResultBytes(RtResult r) { return (ByteSet)(uintptr_t)r.value; }
inline int32_t ResultInt(RtResult r) { return (int32_t)r.value; }
inline int64_t ResultLong(RtResult r) { return (int64_t)r.value; }
inline double ResultDouble(RtResult r) { return __builtin_bit_cast(double, r.value); }
