// One thunk per DLL command: the command's index (an absolute symbol the image builder fills in)
// goes to EAX, then on to service slot 0x04 with every argument register untouched.
#define DLL_COMMAND(index_, dll_, name_, thunk) \
    RT_FUNCTION(thunk) movl $RT_C_NAME(DllIdx_##thunk), %eax; jmp RT_C_NAME(RtDllCommand); RT_END_FUNCTION(thunk);

#include "contract/asm.h"

    .text
#include "contract/dll_commands.def"

    RT_END_OF_FILE
