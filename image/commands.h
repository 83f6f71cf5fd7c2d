// The runtime commands the application uses, as small named calls. Every text, byte set and array
// returned is new and belongs to the caller, which frees it (FreeBlock, FreeTextArray).
#pragma once

#include "constants.h"
#include "rt.h"

// ---- Texts ----
inline int32_t TextLen(TextArg t) { return ResultInt(Core(0x130, ArgText(t))); }
inline Text TextLeft(TextArg t, int32_t n) { return ResultText(Core(0x134, ArgText(t), ArgInt(n))); }
inline Text TextRight(TextArg t, int32_t n) { return ResultText(Core(0x138, ArgText(t), ArgInt(n))); }
inline Text TextMiddle(TextArg t, int32_t start, int32_t n) {
    return ResultText(Core(0x13c, ArgText(t), ArgInt(start), ArgInt(n)));
}
inline Text CharText(uint8_t code) { return ResultText(Core(0x140, ArgByte(code))); }
inline Text TextUpper(TextArg t) { return ResultText(Core(0x150, ArgText(t))); }
inline Text TextTrim(TextArg t) { return ResultText(Core(0x174, ArgText(t))); }
inline Text TextSpaces(int32_t n) { return ResultText(Core(0x184, ArgInt(n))); }
inline Text TextRepeat(int32_t n, TextArg t) { return ResultText(Core(0x188, ArgInt(n), ArgText(t))); }
inline Array SplitText(TextArg t, TextArg separator) {
    return (Array)ResultText(Core(0x190, ArgText(t), ArgText(separator), ArgOmitted()));
}
inline Text HalfWidth(TextArg t) { return ResultText(Core(0x6f8, ArgText(t))); }
inline Text CopyText(TextArg t) { return ResultText(Core(0x134, ArgText(t), ArgInt(0x7FFFFFFF))); }

// ---- Numbers ----
inline double TextToDouble(TextArg t) { return ResultDouble(Core(0x164, ArgText(t))); }
inline int32_t TextToInt(TextArg t) { return ResultInt(Core(0x9dc, ArgText(t))); }
inline Text IntText(int32_t v) { return ResultText(Core(0x168, ArgInt(v))); }
inline Text ByteText(uint8_t v) { return ResultText(Core(0x168, ArgByte(v))); }
inline Text HexText(int32_t v) { return ResultText(Core(0x1d4, ArgInt(v))); }
inline double Divide(double a, double b) { return ResultDouble(Core(0x44, ArgDouble(a), ArgDouble(b))); }
inline double Power(double a, double b) { return ResultDouble(Core(0x6c, ArgDouble(a), ArgDouble(b))); }

// ---- Byte sets ----
inline ByteSet TextToBytes(TextArg t) { return ResultBytes(Core(0x198, ArgText(t))); }
inline int32_t BytesLen(const uint8_t *b) { return ResultInt(Core(0x194, ArgBytes(b))); }
inline ByteSet BytesLeft(const uint8_t *b, int32_t n) { return ResultBytes(Core(0x1a0, ArgBytes(b), ArgInt(n))); }
inline ByteSet BytesRight(const uint8_t *b, int32_t n) { return ResultBytes(Core(0x1a4, ArgBytes(b), ArgInt(n))); }
// The little-endian integer (type code 3) at a 1-based offset; missing bytes read as zero.
inline int32_t BytesToInt(const uint8_t *b, int32_t offset = 1) {
    return ResultInt(Core(0x19c, ArgBytes(b), ArgInt(3), offset == 1 ? ArgOmitted() : ArgInt(offset)));
}

// ---- Files ----
enum SeekOrigin : int32_t { SeekFromStart = 1, SeekFromEnd = 2, SeekFromCurrent = 3 };
inline int32_t FileOpen(TextArg path) { return ResultInt(Core(0x270, ArgText(path), ArgInt(1), ArgInt(1))); }
inline void FileClose(int32_t f) { Core(0x278, ArgInt(f)); }
inline void FileSeek(int32_t f, int64_t position) { Core(0x288, ArgInt(f), ArgOmitted(), ArgLong(position)); }
inline void FileSeekFrom(int32_t f, int32_t origin, int64_t distance) {
    Core(0x288, ArgInt(f), ArgInt(origin), ArgLong(distance));
}
inline ByteSet FileRead(int32_t f, int32_t n) { return ResultBytes(Core(0x294, ArgInt(f), ArgInt(n))); }
inline Text FileReadText(int32_t f) { return ResultText(Core(0x29c, ArgInt(f), ArgOmitted())); }
inline void FileDelete(TextArg path) { Core(0x244, ArgText(path)); }
inline Text ProgramFolder() { return ResultText(Core(0x104)); }

// ---- Configuration items ----
inline Text ReadConfigItem(TextArg file, TextArg section, TextArg key) {
    return ResultText(Core(0x8c8, ArgText(file), ArgText(section), ArgText(key), ArgOmitted()));
}
inline void WriteConfigItem(TextArg file, TextArg section, TextArg key, TextArg value) {
    Core(0x8cc, ArgText(file), ArgText(section), ArgText(key), ArgText(value));
}

// ---- Messages and events ----
// A message box of style 0; a null title is left out, so the runtime's default applies.
inline void ShowMessage(TextArg text, TextArg title) {
    Core(0x300, ArgText(text), ArgInt(0), title ? ArgText(title) : ArgOmitted(), ArgOmitted());
}
inline void ProcessEvents() { Core(0x350); }
