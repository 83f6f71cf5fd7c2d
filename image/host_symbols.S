// The direct host's values of the identifier symbols that the image builder fills in for the image.
#define UNIT_ID(name, value) .globl name; .set name, value;
#define LIBRARY_ROW(name, value) .globl name; .set name, value;
#define UNIT_TYPE(name, value) .globl name; .set name, value;
#define DLL_COMMAND(index, dll, function, thunk) .globl DllIdx_##thunk; .set DllIdx_##thunk, index;
#include "identifiers.def"
#include "dll_commands.def"

    .section .note.GNU-stack, "", @progbits
