// The command table (commands.def) as both sides use it: a CommandEntry per command, the whole table
// as kCommands, and what fits a shape's letter. Freestanding.
#pragma once

#include "abi.h"

// Library rows by their identifier names (identifiers.def): kLibRow_Core, kLibRow_ExtendedUi, ...
enum LibraryRow : uint32_t {
#define UNIT_ID(name, value)
#define UNIT_TYPE(name, value)
#define LIBRARY_ROW(name, value) k##name = value,
#include "identifiers.def"
#undef UNIT_ID
#undef UNIT_TYPE
#undef LIBRARY_ROW
};

// How many rows the library table has.
inline constexpr uint32_t kLibraryRows = 0
#define UNIT_ID(name, value)
#define UNIT_TYPE(name, value)
#define LIBRARY_ROW(name, value) +1
#include "identifiers.def"
#undef UNIT_ID
#undef UNIT_TYPE
#undef LIBRARY_ROW
    ;

struct CommandEntry {
    uint32_t row;      // library row; kLibRow_Core for the core library
    uint32_t number;   // command number
    const char *name;  // as in commands.def
    const char *shape; // one letter per argument (see commands.def)
};

namespace cmd {
#define COMMAND(row, number, name, shape) inline constexpr CommandEntry name{row, number, #name, shape};
#include "commands.def"
#undef COMMAND
} // namespace cmd

inline constexpr CommandEntry kCommands[] = {
#define COMMAND(row, number, name, shape) cmd::name,
#include "commands.def"
#undef COMMAND
};

namespace shape {

constexpr bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr char Lower(char c) { return IsUpper(c) ? char(c - 'A' + 'a') : c; }
constexpr bool IsNumber(char c) { return c == 'y' || c == 'i' || c == 'l' || c == 'd'; }

// Whether an argument of kind `given` (a lower-case letter, or 'o' for left out) fits `wanted`.
constexpr bool Fits(char wanted, char given) {
    if (given == 'o') return wanted == 'o' || IsUpper(wanted);
    char w = Lower(wanted);
    return w == given || (w == 'n' && IsNumber(given));
}

} // namespace shape
