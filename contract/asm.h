// Assembly for both object formats the project writes: ELF (Linux and the program images) and COFF
// (the 32-bit Windows build, whose C names carry a leading underscore). Included by the .S files.
#pragma once
// Assembler directives, not C: left as written.
// clang-format off

#if defined(_WIN32)
#define RT_C_NAME(name) _##name
#define RT_FUNCTION(name) .globl RT_C_NAME(name); .def RT_C_NAME(name); .scl 2; .type 32; .endef; RT_C_NAME(name):
#define RT_END_FUNCTION(name)
#define RT_CODE_SECTION(name) .section name, "xr"
#define RT_RODATA_SECTION(name) .section name, "dr"
#define RT_END_OF_FILE
#else
#define RT_C_NAME(name) name
#define RT_FUNCTION(name) .globl name; .type name, @function; name:
#define RT_END_FUNCTION(name) .size name, . - name
#define RT_CODE_SECTION(name) .section name, "ax", @progbits
#define RT_RODATA_SECTION(name) .section name, "a"
#define RT_END_OF_FILE .section .note.GNU-stack, "", @progbits
#endif
// clang-format on
