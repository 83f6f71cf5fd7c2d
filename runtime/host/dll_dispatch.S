// The direct host's RtDllCommand is the runtime's slot 0x04 dispatcher itself.
    .text
    .globl RtDllCommand
    .type RtDllCommand, @function
RtDllCommand:
    jmp rt_dll_dispatch@PLT
    .size RtDllCommand, . - RtDllCommand

    .section .note.GNU-stack, "", @progbits
