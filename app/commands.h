// The runtime commands the application uses, as small named calls over the command table
// (contract/commands.def). Every text, byte set and array returned is new and belongs to the caller,
// which frees it (FreeBlock, FreeTextArray).
#pragma once

#include "app/constants.h"
#include "contract/rt.h"

// ---- Texts ----
inline int32_t TextLen(TextArg t) { return ResultInt(Call<cmd::TextLength>(ArgText(t))); }
inline Text TextLeft(TextArg t, int32_t n) { return ResultText(Call<cmd::TextLeft>(ArgText(t), ArgInt(n))); }
inline Text TextRight(TextArg t, int32_t n) { return ResultText(Call<cmd::TextRight>(ArgText(t), ArgInt(n))); }
inline Text TextMiddle(TextArg t, int32_t start, int32_t n) {
    return ResultText(Call<cmd::TextMiddle>(ArgText(t), ArgInt(start), ArgInt(n)));
}
inline Text TextUpper(TextArg t) { return ResultText(Call<cmd::TextUpper>(ArgText(t))); }
inline Text TextTrim(TextArg t) { return ResultText(Call<cmd::TextTrim>(ArgText(t))); }
inline Text TextSpaces(int32_t n) { return ResultText(Call<cmd::TextSpaces>(ArgInt(n))); }
inline Text TextRepeat(int32_t n, TextArg t) { return ResultText(Call<cmd::TextRepeat>(ArgInt(n), ArgText(t))); }
inline Array SplitText(TextArg t, TextArg separator) {
    return (Array)ResultText(Call<cmd::SplitText>(ArgText(t), ArgText(separator), ArgOmitted()));
}
inline Text HalfWidth(TextArg t) { return ResultText(Call<cmd::HalfWidth>(ArgText(t))); }
inline Text CopyText(TextArg t) { return ResultText(Call<cmd::TextLeft>(ArgText(t), ArgInt(0x7FFFFFFF))); }

// ---- Numbers ----
inline double TextToDouble(TextArg t) { return ResultDouble(Call<cmd::TextToDouble>(ArgText(t))); }
inline int32_t TextToInt(TextArg t) { return ResultInt(Call<cmd::TextToInt>(ArgText(t))); }
inline Text IntText(int32_t v) { return ResultText(Call<cmd::NumberText>(ArgInt(v))); }
inline Text ByteText(uint8_t v) { return ResultText(Call<cmd::NumberText>(ArgByte(v))); }
inline Text HexText(int32_t v) { return ResultText(Call<cmd::HexText>(ArgInt(v))); }
inline double Divide(double a, double b) { return ResultDouble(Call<cmd::Divide>(ArgDouble(a), ArgDouble(b))); }

// ---- Byte sets ----
inline ByteSet TextToBytes(TextArg t) { return ResultBytes(Call<cmd::TextToBytes>(ArgText(t))); }
inline int32_t BytesLen(const uint8_t *b) { return ResultInt(Call<cmd::BytesLength>(ArgBytes(b))); }
inline ByteSet BytesLeft(const uint8_t *b, int32_t n) {
    return ResultBytes(Call<cmd::BytesLeft>(ArgBytes(b), ArgInt(n)));
}
inline ByteSet BytesRight(const uint8_t *b, int32_t n) {
    return ResultBytes(Call<cmd::BytesRight>(ArgBytes(b), ArgInt(n)));
}
// The little-endian integer (type code 3) at a 1-based offset; missing bytes read as zero.
inline int32_t BytesToInt(const uint8_t *b, int32_t offset = 1) {
    return ResultInt(Call<cmd::BytesToValue>(ArgBytes(b), ArgInt(3), ArgIntOrOmitted(offset != 1, offset)));
}

// ---- Files ----
enum SeekOrigin : int32_t { SeekFromStart = 1, SeekFromEnd = 2, SeekFromCurrent = 3 };
inline int32_t FileOpen(TextArg path) { return ResultInt(Call<cmd::FileOpen>(ArgText(path), ArgInt(1), ArgInt(1))); }
inline void FileClose(int32_t f) { Call<cmd::FileClose>(ArgInt(f)); }
inline void FileSeek(int32_t f, int64_t position) { Call<cmd::FileSeek>(ArgInt(f), ArgOmitted(), ArgLong(position)); }
inline void FileSeekFrom(int32_t f, int32_t origin, int64_t distance) {
    Call<cmd::FileSeek>(ArgInt(f), ArgInt(origin), ArgLong(distance));
}
inline ByteSet FileRead(int32_t f, int32_t n) { return ResultBytes(Call<cmd::FileRead>(ArgInt(f), ArgInt(n))); }
inline Text FileReadText(int32_t f) { return ResultText(Call<cmd::FileReadText>(ArgInt(f), ArgOmitted())); }
inline void FileDelete(TextArg path) { Call<cmd::FileDelete>(ArgText(path)); }
inline Text ProgramFolder() { return ResultText(Call<cmd::ProgramFolder>()); }

// ---- Configuration items ----
inline Text ReadConfigItem(TextArg file, TextArg section, TextArg key) {
    return ResultText(Call<cmd::ReadConfigItem>(ArgText(file), ArgText(section), ArgText(key), ArgOmitted()));
}
inline void WriteConfigItem(TextArg file, TextArg section, TextArg key, TextArg value) {
    Call<cmd::WriteConfigItem>(ArgText(file), ArgText(section), ArgText(key), ArgText(value));
}

// ---- Messages and events ----
// A message box of style 0; a null title is left out, so the runtime's default applies.
inline void ShowMessage(TextArg text, TextArg title) {
    Call<cmd::MessageBox>(ArgText(text), ArgInt(0), ArgTextOrOmitted(title), ArgOmitted());
}
inline void ProcessEvents() { Call<cmd::ProcessEvents>(); }

// ---- The window's controls ----
inline int32_t ComboCount(UnitRef combo) { return ResultInt(Call<cmd::ComboCount>(ArgUnit(combo))); }
inline Text ComboItem(UnitRef combo, int32_t index) {
    return ResultText(Call<cmd::ComboItem>(ArgUnit(combo), ArgInt(index)));
}
inline void ComboAppend(UnitRef combo, TextArg text) {
    Call<cmd::ComboAppend>(ArgUnit(combo), ArgText(text), ArgOmitted());
}
inline void ComboClear(UnitRef combo) { Call<cmd::ComboClear>(ArgUnit(combo)); }
inline void EndProgram(UnitRef window) { Call<cmd::EndProgram>(ArgUnit(window), ArgOmitted()); }
inline int32_t ListAppendRow(UnitRef list) {
    return ResultInt(Call<cmd::ListAppendRow>(ArgUnit(list), ArgOmitted(), ArgOmitted(), ArgOmitted(), ArgOmitted(),
                                              ArgOmitted(), ArgOmitted()));
}
inline void ListClear(UnitRef list) { Call<cmd::ListClear>(ArgUnit(list)); }
inline void ListSetCell(UnitRef list, int32_t row, int32_t column, TextArg text) {
    Call<cmd::ListSetCell>(ArgUnit(list), ArgInt(row), ArgInt(column), ArgText(text));
}
inline void StartThread(void (*routine)()) { Call<cmd::StartThread>(ArgRoutine(routine), ArgOmitted(), ArgOmitted()); }
inline void OpenUrl(TextArg url) { Call<cmd::OpenUrl>(ArgText(url)); }
