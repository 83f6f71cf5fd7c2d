// The constants of the image's const segment, packed in this order at the start of the segment
// (the image builder places this section first). Texts are GBK and NUL-terminated; arrays and
// byte sets have the runtime array layout. Offsets are from the start of the segment's data.

#include "contract/asm.h"

    RT_RODATA_SECTION(.rtconst)
    .p2align 0

    .globl RT_C_NAME(K_HistoryFile)  // 0x000: "\\lsjl.ini" - history file name, behind the program's folder
RT_C_NAME(K_HistoryFile):
    .byte 0x5C, 0x6C, 0x73, 0x6A, 0x6C, 0x2E, 0x69, 0x6E, 0x69, 0x00
    .globl RT_C_NAME(K_HistoryKey)  // 0x00A: "url" - history key
RT_C_NAME(K_HistoryKey):
    .byte 0x75, 0x72, 0x6C, 0x00
    .globl RT_C_NAME(K_HistorySection)  // 0x00E: "历史记录" - history section
RT_C_NAME(K_HistorySection):
    .byte 0xC0, 0xFA, 0xCA, 0xB7, 0xBC, 0xC7, 0xC2, 0xBC, 0x00
    .globl RT_C_NAME(K_Empty)  // 0x017: "" - the shared empty text
RT_C_NAME(K_Empty):
    .byte 0x00
    .globl RT_C_NAME(K_Bar)  // 0x018: "|" - history separator
RT_C_NAME(K_Bar):
    .byte 0x7C, 0x00
    .globl RT_C_NAME(K_EmptyArray)  // 0x01A: dimensions 1, size 0 - the shared empty array
RT_C_NAME(K_EmptyArray):
    .long 1, 0
    .globl RT_C_NAME(K_InitialHistory)  // 0x022: "toviq.example|" - the history after clearing: the maker's host
RT_C_NAME(K_InitialHistory):
    .byte 0x74, 0x6F, 0x76, 0x69, 0x71, 0x2E, 0x65, 0x78, 0x61, 0x6D, 0x70, 0x6C, 0x65, 0x7C, 0x00
    .globl RT_C_NAME(K_MakerAddress)  // 0x031: "https://toviq.example/" - the maker's web address
RT_C_NAME(K_MakerAddress):
    .byte 0x68, 0x74, 0x74, 0x70, 0x73, 0x3A, 0x2F, 0x2F, 0x74, 0x6F, 0x76, 0x69, 0x71, 0x2E, 0x65, 0x78, 0x61, 0x6D, 0x70, 0x6C, 0x65, 0x2F, 0x00
    .globl RT_C_NAME(K_One)  // 0x048: 1.0
RT_C_NAME(K_One):
    .double 1.0
    .globl RT_C_NAME(K_TextOne)  // 0x050: "1"
RT_C_NAME(K_TextOne):
    .byte 0x31, 0x00
    .globl RT_C_NAME(K_Tolerance)  // 0x052: 1e-07 - tolerance of floating comparisons
RT_C_NAME(K_Tolerance):
    .double 1e-07
    .globl RT_C_NAME(K_ThirtyTwo)  // 0x05A: 32.0
RT_C_NAME(K_ThirtyTwo):
    .double 32.0
    .globl RT_C_NAME(K_MinusTolerance)  // 0x062: -1e-07
RT_C_NAME(K_MinusTolerance):
    .double -1e-07
    .globl RT_C_NAME(K_Text32)  // 0x06A: "32"
RT_C_NAME(K_Text32):
    .byte 0x33, 0x32, 0x00
    .globl RT_C_NAME(K_OneTwentyEight)  // 0x06D: 128.0
RT_C_NAME(K_OneTwentyEight):
    .double 128.0
    .globl RT_C_NAME(K_Text128)  // 0x075: "128"
RT_C_NAME(K_Text128):
    .byte 0x31, 0x32, 0x38, 0x00
    .globl RT_C_NAME(K_TraceFinished)  // 0x079: "路由追踪结束" - route trace finished
RT_C_NAME(K_TraceFinished):
    .byte 0xC2, 0xB7, 0xD3, 0xC9, 0xD7, 0xB7, 0xD7, 0xD9, 0xBD, 0xE1, 0xCA, 0xF8, 0x00
    .globl RT_C_NAME(K_TraceTitle)  // 0x086: "路由追踪程序" - route trace program
RT_C_NAME(K_TraceTitle):
    .byte 0xC2, 0xB7, 0xD3, 0xC9, 0xD7, 0xB7, 0xD7, 0xD9, 0xB3, 0xCC, 0xD0, 0xF2, 0x00
    .globl RT_C_NAME(K_IcmpFailed)  // 0x093: "不能打开Icmp文件句柄" - cannot open the ICMP file handle
RT_C_NAME(K_IcmpFailed):
    .byte 0xB2, 0xBB, 0xC4, 0xDC, 0xB4, 0xF2, 0xBF, 0xAA, 0x49, 0x63, 0x6D, 0x70, 0xCE, 0xC4, 0xBC, 0xFE, 0xBE, 0xE4, 0xB1, 0xFA, 0x00
    .globl RT_C_NAME(K_SocketFailed)  // 0x0A8: "不能初始化Windows套接字" - cannot initialise Windows sockets
RT_C_NAME(K_SocketFailed):
    .byte 0xB2, 0xBB, 0xC4, 0xDC, 0xB3, 0xF5, 0xCA, 0xBC, 0xBB, 0xAF, 0x57, 0x69, 0x6E, 0x64, 0x6F, 0x77, 0x73, 0xCC, 0xD7, 0xBD, 0xD3, 0xD7, 0xD6, 0x00
    .globl RT_C_NAME(K_Shape256)  // 0x0C0: dimensions 1, size 256 - shape of a 256-byte record field
RT_C_NAME(K_Shape256):
    .long 1, 256
    .globl RT_C_NAME(K_Shape128)  // 0x0C8: dimensions 1, size 128 - shape of a 128-byte record field
RT_C_NAME(K_Shape128):
    .long 1, 128
    .globl RT_C_NAME(K_WinsockFailed)  // 0x0D0: "Winsock.dll konnte nicht initialisiert werden."
RT_C_NAME(K_WinsockFailed):
    .byte 0x57, 0x69, 0x6E, 0x73, 0x6F, 0x63, 0x6B, 0x2E, 0x64, 0x6C, 0x6C, 0x20, 0x6B, 0x6F, 0x6E, 0x6E, 0x74, 0x65, 0x20, 0x6E, 0x69, 0x63, 0x68, 0x74, 0x20, 0x69, 0x6E, 0x69, 0x74, 0x69, 0x61, 0x6C, 0x69, 0x73, 0x69, 0x65, 0x72, 0x74, 0x20, 0x77, 0x65, 0x72, 0x64, 0x65, 0x6E, 0x2E, 0x00
    .globl RT_C_NAME(K_NoHost)  // 0x0FF: "Kein Host gefunden."
RT_C_NAME(K_NoHost):
    .byte 0x4B, 0x65, 0x69, 0x6E, 0x20, 0x48, 0x6F, 0x73, 0x74, 0x20, 0x67, 0x65, 0x66, 0x75, 0x6E, 0x64, 0x65, 0x6E, 0x2E, 0x00
    .globl RT_C_NAME(K_Dot)  // 0x113: "."
RT_C_NAME(K_Dot):
    .byte 0x2E, 0x00
    .globl RT_C_NAME(K_LetterA)  // 0x115: "a" - request data byte
RT_C_NAME(K_LetterA):
    .byte 0x61, 0x00
    .globl RT_C_NAME(K_Eight)  // 0x117: 8.0
RT_C_NAME(K_Eight):
    .double 8.0
    .globl RT_C_NAME(K_Below10)  // 0x11F: "<10 ms"
RT_C_NAME(K_Below10):
    .byte 0x3C, 0x31, 0x30, 0x20, 0x6D, 0x73, 0x00
    .globl RT_C_NAME(K_Star)  // 0x126: "*"
RT_C_NAME(K_Star):
    .byte 0x2A, 0x00
    .globl RT_C_NAME(K_Ms)  // 0x128: "ms"
RT_C_NAME(K_Ms):
    .byte 0x6D, 0x73, 0x00
    .globl RT_C_NAME(K_CrLf)  // 0x12B: "\r\n"
RT_C_NAME(K_CrLf):
    .byte 0x0D, 0x0A, 0x00
    .globl RT_C_NAME(K_Hop)  // 0x12E: "Hop"
RT_C_NAME(K_Hop):
    .byte 0x48, 0x6F, 0x70, 0x00
    .globl RT_C_NAME(K_DatabasePath)  // 0x132: ".\\QQWry.dat" - location database path
RT_C_NAME(K_DatabasePath):
    .byte 0x2E, 0x5C, 0x51, 0x51, 0x57, 0x72, 0x79, 0x2E, 0x64, 0x61, 0x74, 0x00
    .globl RT_C_NAME(K_DatabaseMissing)  // 0x13E: "没找到数据库" - database not found
RT_C_NAME(K_DatabaseMissing):
    .byte 0xC3, 0xBB, 0xD5, 0xD2, 0xB5, 0xBD, 0xCA, 0xFD, 0xBE, 0xDD, 0xBF, 0xE2, 0x00
    .globl RT_C_NAME(K_Seven)  // 0x14B: 7.0
RT_C_NAME(K_Seven):
    .double 7.0
    .globl RT_C_NAME(K_Four)  // 0x153: 4.0
RT_C_NAME(K_Four):
    .double 4.0
    .globl RT_C_NAME(K_Five)  // 0x15B: 5.0
RT_C_NAME(K_Five):
    .double 5.0
    .globl RT_C_NAME(K_Text00)  // 0x163: "00"
RT_C_NAME(K_Text00):
    .byte 0x30, 0x30, 0x00
    .globl RT_C_NAME(K_Two)  // 0x166: 2.0
RT_C_NAME(K_Two):
    .double 2.0
    .globl RT_C_NAME(K_Text0)  // 0x16E: "0"
RT_C_NAME(K_Text0):
    .byte 0x30, 0x00
    .globl RT_C_NAME(K_SixtyFive)  // 0x170: 65.0 - character code of A
RT_C_NAME(K_SixtyFive):
    .double 65.0
    .globl RT_C_NAME(K_Ten)  // 0x178: 10.0
RT_C_NAME(K_Ten):
    .double 10.0
    .globl RT_C_NAME(K_Mode1)  // 0x180: byte set {1} - redirect mode byte 1
RT_C_NAME(K_Mode1):
    .long 1, 1
    .byte 1
    .globl RT_C_NAME(K_Mode2)  // 0x189: byte set {2} - redirect mode byte 2
RT_C_NAME(K_Mode2):
    .long 1, 1
    .byte 2
    .globl RT_C_NAME(K_Filler)  // 0x192: "CZ88.NET" - the database's filler domain in area fields
RT_C_NAME(K_Filler):
    .byte 0x43, 0x5A, 0x38, 0x38, 0x2E, 0x4E, 0x45, 0x54, 0x00
    .globl RT_C_NAME(K_Space)  // 0x19B: " "
RT_C_NAME(K_Space):
    .byte 0x20, 0x00

// The DLL names follow at 0x19D; the image builder adds them from the DLL command table.
    RT_END_OF_FILE
