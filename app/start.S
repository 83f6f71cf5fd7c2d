// The image's start routine and the two empty routines beside it. The runtime calls the start
// routine once, after placing and fixing up the image.
    // Last in the code segment, before the service stubs (app/code_order.h).
    .section .text.rt.last.3, "ax", @progbits

    .globl RtEmptyRoutine1
    .type RtEmptyRoutine1, @function
RtEmptyRoutine1:
    ret
    .size RtEmptyRoutine1, . - RtEmptyRoutine1

    // Registered with the runtime as the program's start/stop routine; this program has no global
    // state to prepare or release.
    .globl RtEmptyRoutine2
    .type RtEmptyRoutine2, @function
RtEmptyRoutine2:
    ret
    .size RtEmptyRoutine2, . - RtEmptyRoutine2

    .globl RtStartRoutine
    .type RtStartRoutine, @function
RtStartRoutine:
#if defined(__x86_64__)
    subq $8, %rsp                 // keep the stack 16-byte aligned for the calls below
    cld                           // clear the direction flag
    fninit                        // reset the floating-point state
    call RtEmptyRoutine1
    movl $3, %edi                 // slot 0x30, selector 3: the start routine
    movl $RtEmptyRoutine2, %esi   // a routine's address passed on
    xorl %edx, %edx
    call RtRegister
    movl $Id_MainWindow, %edi     // slot 0x2c: build and show the main window
    call RtShowWindow
    call RtRunEvents              // slot 0x28: events until the program is to end
    xorl %edi, %edi               // slot 0x24: end with exit code 0
    call RtExit
#else
    // i386: arguments are pushed, last first, and the caller takes them off again.
    cld
    fninit
    call RtEmptyRoutine1
    pushl $0
    pushl $RtEmptyRoutine2
    pushl $3
    call RtRegister
    addl $12, %esp
    pushl $Id_MainWindow
    call RtShowWindow
    addl $4, %esp
    call RtRunEvents
    pushl $0
    call RtExit
#endif
    .size RtStartRoutine, . - RtStartRoutine

    .section .note.GNU-stack, "", @progbits
