#include "app/commands.h"
#include "app/support.h"
#include "ipdb.h"

namespace {

// Whether a byte set read from the file is exactly one mode byte (length and contents).
bool IsMode(const uint8_t *read, const unsigned char *mode) {
    ArrayElements got = ArrayElementCountOrZero((Array)read);
    ArrayElements want = ArrayElementCount((Array)mode);
    return got.count == want.count && got.count == 1 && *(uint8_t *)got.first == *(uint8_t *)want.first;
}

// Reads one byte at the read position; whether it is mode 1 or mode 2.
struct ModeByte {
    bool one;
    bool two;
};
ModeByte ReadModeByte(int32_t file) {
    ByteSet b = FileRead(file, 1);
    ModeByte m{IsMode(b, K_RecordRedirect), IsMode(b, K_CountryRedirect)};
    FreeBlock(b);
    return m;
}

// The 3-byte position at the read position.
int64_t ReadPosition(int32_t file) {
    ByteSet b = FileRead(file, 3);
    int64_t position = (uint32_t)BytesToInt(b);
    FreeBlock(b);
    return position;
}

// At a redirect target: one more redirect is followed when the target starts with a mode byte;
// otherwise the read position goes back to the target's first byte. Then the text is read.
Text ReadTextAtTarget(int32_t file, int64_t target) {
    FileSeekFrom(file, SeekFromStart, target);
    ModeByte m = ReadModeByte(file);
    if (m.one || m.two) FileSeekFrom(file, SeekFromStart, ReadPosition(file));
    else FileSeekFrom(file, SeekFromCurrent, -1);
    return FileReadText(file);
}

} // namespace

Text ReadCountryText(int32_t file, int64_t q, int64_t *occupied) {
    FileSeekFrom(file, SeekFromStart, q);
    if (ReadModeByte(file).two) {
        *occupied = 4;
        return ReadTextAtTarget(file, ReadPosition(file));
    }
    FileSeekFrom(file, SeekFromCurrent, -1);
    Text country = FileReadText(file);
    *occupied = TextLen(country) + 1; // bytes: a Chinese character counts 2
    return country;
}

Text ReadAreaText(int32_t file, int64_t s) {
    FileSeekFrom(file, SeekFromStart, s);
    ModeByte m = ReadModeByte(file);
    if (m.one || m.two) return ReadTextAtTarget(file, ReadPosition(file));
    FileSeekFrom(file, SeekFromCurrent, -1);
    return FileReadText(file);
}

Text ReadPlace(int32_t file, int64_t p) {
    FileSeek(file, p);
    ModeByte m = ReadModeByte(file);
    Text country;
    Text area;
    int64_t occupied = 0;
    if (m.one) {
        int64_t q = ReadPosition(file);
        country = ReadCountryText(file, q, &occupied);
        area = ReadAreaText(file, q + occupied);
    } else if (m.two) {
        int64_t q = ReadPosition(file);
        country = ReadCountryText(file, q, &occupied);
        area = ReadAreaText(file, p + 4);
    } else {
        country = ReadCountryText(file, p, &occupied);
        area = ReadAreaText(file, p + occupied);
    }

    // The database's filler in an area field, with blanks around it and in any case, is no place.
    Text trimmed = TextTrim(area);
    Text upper = TextUpper(trimmed);
    if (CompareText(upper, K_FillerDomain) == 0) {
        FreeBlock(area);
        area = CopyText(K_Empty);
    }
    FreeBlock(upper);
    FreeBlock(trimmed);

    Text place;
    bool areaEmpty = TextLength(area) == 0;
    bool countryEmpty = TextLength(country) == 0;
    if (areaEmpty && !countryEmpty) place = CopyText(country);
    else if (!areaEmpty && countryEmpty) place = CopyText(area);
    else if (CompareText(country, area) == 0) place = CopyText(country);
    else place = JoinTexts(country, K_PlaceSeparator, area);
    FreeBlock(area);
    FreeBlock(country);
    return place;
}
