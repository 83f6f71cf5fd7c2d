// The binary contract between the program image's code and the core runtime.
//
// Both sides include this header: the application code compiled freestanding into the image,
// and the runtime written in ordinary C++. It therefore uses nothing but compiler-provided
// freestanding headers and holds only plain types and constants.
#pragma once

#include <stdint.h>

// The convention of the launcher's calls into the runtime (GetNewSock, the entry) and of the DLL
// commands on i386, which is the 32-bit Windows program's machine: the system's own (stdcall).
// Elsewhere the platform's usual one.
#if defined(__i386__)
#define RT_STDCALL __attribute__((stdcall))
#else
#define RT_STDCALL
#endif

// A C name as assembly spells it: with a leading underscore on 32-bit Windows.
#if defined(_WIN32) && defined(__i386__)
#define RT_ASM_C_NAME(name) "_" #name
#else
#define RT_ASM_C_NAME(name) #name
#endif

// One command argument: a 64-bit value split in two words, and the word that says its type.
// An omitted argument is all zero.
struct RtTriple {
    uint32_t low;  // value, low 32 bits (addresses and 64-bit values use both words)
    uint32_t high; // value, high 32 bits
    uint32_t type; // one of the RtType words, or 0 when the argument is omitted
};
static_assert(sizeof(RtTriple) == 12, "argument triples are three packed words");

// Type words of arguments and results.
enum RtType : uint32_t {
    RtTypeOmitted = 0,
    RtTypeByte = 0x80000101,
    RtTypeShort = 0x80000201,
    RtTypeInt = 0x80000301,
    RtTypeLong = 0x80000401,
    RtTypeFloat = 0x80000501,
    RtTypeDouble = 0x80000601,
    RtTypeText = 0x80000004,
    RtTypeBytes = 0x80000005,
    RtTypeRoutine = 0x80000006,
};

// What a command call returns: the value (64 bits; doubles as their bits, texts and arrays as
// addresses) and, where the command chooses the type at run time, its type word.
// Returned in RAX:RDX under the SysV calling convention.
struct RtResult {
    uint64_t value;
    uint32_t type;
    uint32_t unused = 0; // sixteen bytes on every machine: i386 compilers differ on a 64-bit field's alignment
};
static_assert(sizeof(RtResult) == 16, "a result is the same record on both sides of every platform");

// The argument of GetNewSock: the interface version the launcher and the core runtime agree on.
enum : uint32_t { RtInterfaceVersion = 1000 };
// An image has at most this many DLL commands.
enum : uint32_t { RtMaxDllCommands = 64 };

// Kinds that the runtime error service (slot 0x00) reports.
enum RtErrorKind : int32_t {
    RtErrorIndexAboveBound = 1,
    RtErrorNotConvertible = 2,
    RtErrorIndexBelowOne = 4,
    RtErrorStackMoved = 6,
    RtErrorNegativeCount = 10,
    // The runtime's own kinds, for faults only the runtime can see.
    RtErrorUnknownCommand = 20,
    RtErrorBadArgument = 21,
};

// Selectors of service slot 0x30.
enum RtRegisterSelector : uint32_t {
    RtRegisterArrayField = 2,   // a fixed-size array field is about to receive native bytes
    RtRegisterStartRoutine = 3, // the program's start/stop routine, once at start
};

// A runtime array: a dimension count, one size per dimension, then the elements.
// Texts are 8-byte addresses in an array of texts on this platform; a byte set has 1-byte elements.
struct RtArrayHeader {
    uint32_t dimensions;
    // uint32_t sizes[dimensions]; elements follow
};

// Numbers of the properties the program uses.
enum RtProperty : int32_t {
    RtPropertyDisabled = 6,  // a button's disabled flag: 1 disabled, 0 enabled
    RtPropertyEditText = 8,  // an edit box's text
    RtPropertyComboText = 9, // a combo box's edit field text
};
