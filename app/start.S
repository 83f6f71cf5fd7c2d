// The image's start routine and the two empty routines beside it. The runtime calls the start
// routine once, after placing and fixing up the image.
#include "contract/asm.h"

    // Last in the code segment, before the service stubs (app/code_order.h).
    RT_CODE_SECTION(.text.rt.last.3)

    RT_FUNCTION(RtEmptyRoutine1)
    ret
    RT_END_FUNCTION(RtEmptyRoutine1)

    // Registered with the runtime as the program's start/stop routine; this program has no global
    // state to prepare or release.
    RT_FUNCTION(RtEmptyRoutine2)
    ret
    RT_END_FUNCTION(RtEmptyRoutine2)

    RT_FUNCTION(RtStartRoutine)
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
    call RT_C_NAME(RtEmptyRoutine1)
    pushl $0
    pushl $RT_C_NAME(RtEmptyRoutine2)
    pushl $3
    call RT_C_NAME(RtRegister)
    addl $12, %esp
    pushl $RT_C_NAME(Id_MainWindow)
    call RT_C_NAME(RtShowWindow)
    addl $4, %esp
    call RT_C_NAME(RtRunEvents)
    pushl $0
    call RT_C_NAME(RtExit)
#endif
    RT_END_FUNCTION(RtStartRoutine)

    RT_END_OF_FILE
