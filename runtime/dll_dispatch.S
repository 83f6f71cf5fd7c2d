// Service slot 0x04: EAX holds the DLL command index; the bound function is entered with every
// argument register as the caller left it.
    .text
    .globl rt_dll_dispatch
    .type rt_dll_dispatch, @function
rt_dll_dispatch:
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
    .size rt_dll_dispatch, . - rt_dll_dispatch

    .section .note.GNU-stack, "", @progbits
