// The direct host's RtDllCommand is the runtime's slot 0x04 dispatcher itself.
#include "contract/asm.h"

    .text
    RT_FUNCTION(RtDllCommand)
#if defined(__x86_64__)
    jmp rt_dll_dispatch@PLT
#else
    jmp RT_C_NAME(rt_dll_dispatch)
#endif
    RT_END_FUNCTION(RtDllCommand)

    RT_END_OF_FILE
