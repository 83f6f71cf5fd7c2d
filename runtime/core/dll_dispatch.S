// Service slot 0x04: EAX holds the DLL command index; the bound function is entered with every
// argument (registers on x86-64, the stack on i386) as the caller left it.
#include "contract/asm.h"

    .text
    RT_FUNCTION(rt_dll_dispatch)
#if defined(__x86_64__)
    movq rt_dll_function_count@GOTPCREL(%rip), %r11
    cmpl (%r11), %eax
    jae 1f
    movq rt_dll_functions@GOTPCREL(%rip), %r11
    movq (%r11, %rax, 8), %r11
    testq %r11, %r11
    jz 1f
    jmp *%r11
1:  movl %eax, %edi
    jmp rt_dll_unbound@PLT
#else
    // ECX is neither an argument nor kept across calls under stdcall: free to use here.
    cmpl RT_C_NAME(rt_dll_function_count), %eax
    jae 1f
    movl RT_C_NAME(rt_dll_functions)(, %eax, 4), %ecx
    testl %ecx, %ecx
    jz 1f
    jmp *%ecx
1:  pushl %eax
    call RT_C_NAME(rt_dll_unbound) // ends the program: no return
#endif
    RT_END_FUNCTION(rt_dll_dispatch)

    RT_END_OF_FILE
