// Symbols of the const segment's constants (image/constants.S).
#pragma once

#include <stdint.h>

extern "C" {
extern const char K_HistoryFile[]; // "\\lsjl.ini" - history file name, behind the program's folder
extern const char K_HistoryKey[]; // "url" - history key
extern const char K_HistorySection[]; // "历史记录" - history section
extern const char K_Empty[]; // "" - the shared empty text
extern const char K_Bar[]; // "|" - history separator
extern const uint32_t K_EmptyArray[2]; // dimensions 1, size 0 - the shared empty array
extern const char K_InitialHistory[]; // "toviq.example|" - the history after clearing: the maker's host
extern const char K_MakerAddress[]; // "https://toviq.example/" - the maker's web address
extern const unsigned char K_One[8]; // double 1.0
extern const char K_TextOne[]; // "1"
extern const unsigned char K_Tolerance[8]; // double 1e-07 - tolerance of floating comparisons
extern const unsigned char K_ThirtyTwo[8]; // double 32.0
extern const unsigned char K_MinusTolerance[8]; // double -1e-07
extern const char K_Text32[]; // "32"
extern const unsigned char K_OneTwentyEight[8]; // double 128.0
extern const char K_Text128[]; // "128"
extern const char K_TraceFinished[]; // "路由追踪结束" - route trace finished
extern const char K_TraceTitle[]; // "路由追踪程序" - route trace program
extern const char K_IcmpFailed[]; // "不能打开Icmp文件句柄" - cannot open the ICMP file handle
extern const char K_SocketFailed[]; // "不能初始化Windows套接字" - cannot initialise Windows sockets
extern const uint32_t K_Shape256[2]; // dimensions 1, size 256 - shape of a 256-byte record field
extern const uint32_t K_Shape128[2]; // dimensions 1, size 128 - shape of a 128-byte record field
extern const char K_WinsockFailed[]; // "Winsock.dll konnte nicht initialisiert werden."
extern const char K_NoHost[]; // "Kein Host gefunden."
extern const char K_Dot[]; // "."
extern const char K_LetterA[]; // "a" - request data byte
extern const unsigned char K_Eight[8]; // double 8.0
extern const char K_Below10[]; // "<10 ms"
extern const char K_Star[]; // "*"
extern const char K_Ms[]; // "ms"
extern const char K_CrLf[]; // "\r\n"
extern const char K_Hop[]; // "Hop"
extern const char K_DatabasePath[]; // ".\\QQWry.dat" - location database path
extern const char K_DatabaseMissing[]; // "没找到数据库" - database not found
extern const unsigned char K_Seven[8]; // double 7.0
extern const unsigned char K_Four[8]; // double 4.0
extern const unsigned char K_Five[8]; // double 5.0
extern const char K_Text00[]; // "00"
extern const unsigned char K_Two[8]; // double 2.0
extern const char K_Text0[]; // "0"
extern const unsigned char K_SixtyFive[8]; // double 65.0 - character code of A
extern const unsigned char K_Ten[8]; // double 10.0
extern const unsigned char K_Mode1[9]; // byte set {1} - redirect mode byte 1
extern const unsigned char K_Mode2[9]; // byte set {2} - redirect mode byte 2
extern const char K_Filler[]; // "CZ88.NET" - the database's filler domain in area fields
extern const char K_Space[]; // " "
}

// A double of the const segment (stored unaligned).
inline double ConstDouble(const unsigned char *bytes) {
    double d;
    __builtin_memcpy(&d, bytes, 8);
    return d;
}
