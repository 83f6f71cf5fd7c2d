// Objects the image builder must refuse, one per case (CASE_*), for x86-64 and for i386. Each has
// the constants' table and a start routine, so the case is the only thing wrong with it.
    .section .rtconst, "a"
    .byte 0
    .text
    .globl RtStartRoutine
RtStartRoutine:
#if defined(CASE_UNDEFINED)
    call NotDefinedAnywhere
#elif defined(CASE_WRITABLE)
    movl WritableWord, %eax
#elif defined(CASE_RELOCATION)
    // A 16-bit absolute reference: the image has no kind for it.
    .word RtStartRoutine
#endif
    ret

#if defined(CASE_WRITABLE)
    .data
    .globl WritableWord
WritableWord:
    .long 1
#elif defined(CASE_TLS)
    .section .tbss, "awT", @nobits
    .globl ThreadWord
ThreadWord:
    .zero 4
#elif defined(CASE_CONSTRUCTOR)
    .section .init_array, "aw"
    .globl ConstructorTable
ConstructorTable:
    .long 0
#endif
    .section .note.GNU-stack, "", @progbits
