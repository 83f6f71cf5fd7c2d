// One thunk per DLL command: the command's index (an absolute symbol the image builder fills in)
// goes to EAX, then on to service slot 0x04 with every argument register untouched.
#define DLL_COMMAND(index_, dll_, name_, thunk) \
    .globl thunk; .type thunk, @function; thunk: movl $DllIdx_##thunk, %eax; jmp RtDllCommand; .size thunk, . - thunk;

    .text
#include "dll_commands.def"

    .section .note.GNU-stack, "", @progbits
