// One thunk per DLL command: the command's index (an absolute symbol the image builder fills in)
// goes to EAX, then on to service slot 0x04.
//
// On x86-64 the thunk jumps there with every argument register untouched. On i386 the arguments lie
// on the stack: the thunk passes a copy of them, calls, and checks that the function took exactly
// that many bytes off (the system's stdcall convention); a function that left the stack elsewhere
// ends in the runtime's error service, kind 6, with the command's index as the position. The thunk
// itself then takes the caller's arguments off, as a stdcall function does.
#if defined(__x86_64__)
#define DLL_COMMAND(index_, dll_, name_, thunk, bytes_) \
    RT_FUNCTION(thunk) movl $RT_C_NAME(DllIdx_##thunk), %eax; jmp RT_C_NAME(RtDllCommand); RT_END_FUNCTION(thunk);
#else
#define DLL_COMMAND(index_, dll_, name_, thunk, bytes_) \
    RT_FUNCTION(thunk) \
    pushl %ebp; movl %esp, %ebp; \
    leal (8 + bytes_)(%ebp), %ecx; \
    .rept bytes_ / 4; subl $4, %ecx; pushl (%ecx); .endr; \
    movl $RT_C_NAME(DllIdx_##thunk), %eax; call RT_C_NAME(RtDllCommand); \
    cmpl %esp, %ebp; jne 1f; popl %ebp; ret $bytes_; \
1:  movl %ebp, %esp; pushl $index_; pushl $0; pushl $6; call RT_C_NAME(RtError); \
    RT_END_FUNCTION(thunk);
#endif

#include "contract/asm.h"

    .text
#include "contract/dll_commands.def"

    RT_END_OF_FILE
