#include "app/commands.h"
#include "app/subroutines.h"
#include "app/support.h"
#include "ipdb.h"

namespace {

// A binary search over at most 2^32 entries needs 33 levels; a deeper one is a corrupt header.
constexpr int32_t kMaxSearchDepth = 40;

// The unsigned value of 4 stored little-endian bytes. Read as the 32-bit integer they hold, taken
// unsigned: the same value their hexadecimal text gives, without building it (the search reads two
// entries at each of its twenty-odd levels).
int64_t StoredAddressValue(const uint8_t *bytes) { return (uint32_t)BytesToInt(bytes); }

// The position of entry k (counted from 1) of the index at `first`, computed in double precision.
int64_t EntryPosition(int64_t first, int64_t k) {
    return FloatToInt64((double)first + (double)(k - 1) * ConstDouble(K_IndexEntrySize));
}

// The start address of entry k of the index at `first`.
int64_t EntryStart(int32_t file, int64_t first, int64_t k) {
    FileSeek(file, EntryPosition(first, k));
    ByteSet entry = FileRead(file, (int32_t)const_value::K_IndexEntrySize);
    int64_t start = StoredAddressValue(entry);
    FreeBlock(entry);
    return start;
}

// The low 8 bits of a part's integer value as two hexadecimal digits: "00" + hex, last two characters.
Text TwoHexDigits(TextArg part) {
    Text hex = HexText(TextToInt(part));
    Text padded = JoinTexts(K_HexPadding, hex);
    Text two = TextRight(padded, 2);
    FreeBlock(padded);
    FreeBlock(hex);
    return two;
}

} // namespace

Text LookupLocation(TextArg address, TextArg databasePath) {
    if (TextLength(address) == 0) return CopyText(K_Empty);
    TextArg path = databasePath ? databasePath : K_DatabasePath;
    int32_t file = FileOpen(path);
    if (file == 0) {
        ShowMessage(K_DatabaseMissing, nullptr);
        return CopyText(K_Empty);
    }

    FileSeek(file, 0);
    ByteSet header = FileRead(file, 8);
    ByteSet firstBytes = BytesLeft(header, 4);
    ByteSet lastBytes = BytesRight(header, 4);
    int64_t first = (uint32_t)BytesToInt(firstBytes);
    int64_t last = (uint32_t)BytesToInt(lastBytes);
    FreeBlock(lastBytes);
    FreeBlock(firstBytes);
    FreeBlock(header);

    Text place = nullptr;
    int64_t count =
        FloatToInt64(Divide((double)(last - first), ConstDouble(K_IndexEntrySize)) + ConstDouble(K_InclusiveCount));
    // A header whose last entry lies before its first has no entries; searching it would never end.
    if (count >= 1) {
        int64_t a = AddressToNumber(address);
        int64_t k = FindIndexEntry(file, first, 1, count, a, 0);
        FileSeek(file, EntryPosition(first, k));
        ByteSet entry = FileRead(file, (int32_t)const_value::K_IndexEntrySize);
        int64_t start = StoredAddressValue(entry);
        int64_t recordPosition = (uint32_t)BytesToInt(entry, 5); // bytes 4..6: a 24-bit position
        FreeBlock(entry);
        FileSeek(file, recordPosition);
        ByteSet endBytes = FileRead(file, 4);
        int64_t end = StoredAddressValue(endBytes);
        FreeBlock(endBytes);
        if (start <= a && a <= end) place = ReadPlace(file, recordPosition + 4);
    }
    FileClose(file);
    return place ? place : CopyText(K_Empty);
}

int32_t FindIndexEntry(int32_t file, int64_t first, int64_t lo, int64_t hi, int64_t a, int32_t depth) {
    // The midpoint in double precision; a plain division, as the division command does it, since the
    // search asks for one at each of its levels.
    int64_t mid = FloatToInt64((double)(lo + hi) / ConstDouble(K_Halves));
    // Below the first level start(lo) <= a < start(hi) holds, so two neighbours answer lo, and entry hi
    // needs no second look (each level would otherwise read it again). At the first level entry hi has
    // not been looked at yet: a two-entry index must still test it, or every address of its last range
    // would be reported as no place.
    if ((mid == lo && (depth > 0 || lo == hi)) || depth >= kMaxSearchDepth) return (int32_t)lo;
    if (depth == 0 && a >= EntryStart(file, first, hi)) return (int32_t)hi;
    if (mid == lo) return (int32_t)lo;
    int64_t start = EntryStart(file, first, mid);
    if (a < start) return FindIndexEntry(file, first, lo, mid, a, depth + 1);
    if (a > start) return FindIndexEntry(file, first, mid, hi, a, depth + 1);
    return (int32_t)mid;
}

int64_t AddressToNumber(TextArg address) {
    Array parts = SplitText(address, K_AddressDot);
    if (ArrayElementCount(parts).count != 4) {
        FreeTextArray(parts);
        Text normalised = HalfWidth(address);
        parts = SplitText(normalised, K_AddressDot);
        FreeBlock(normalised);
        if (ArrayElementCount(parts).count != 4) {
            FreeTextArray(parts);
            return 0;
        }
    }
    // The four two-digit texts joined from the fourth part to the first give the address in
    // reversed byte order; swapping the pairs brings it into address order.
    Text digits[4];
    for (int32_t i = 0; i < 4; ++i) digits[i] = TwoHexDigits(TextArrayAt(parts, i + 1, Sub_AddressToNumber, 2));
    Text reversed = JoinTexts(digits[3], digits[2], digits[1], digits[0]);
    Text ordered = SwapHexPairs(reversed);
    int64_t value = HexToNumber(ordered);
    FreeBlock(ordered);
    FreeBlock(reversed);
    for (Text d : digits) FreeBlock(d);
    FreeTextArray(parts);
    return value;
}

Text PadHex8(TextArg text) {
    int32_t length = (int32_t)TextLength(text); // bytes, as the length command counts them
    if (length >= 8) return CopyText(text);
    Text zeros = TextRepeat(8 - length, K_HexZero);
    Text padded = JoinTexts(zeros, text);
    FreeBlock(zeros);
    return padded;
}

Text SwapHexPairs(TextArg text) {
    Text u = PadHex8(text);
    Text pairs[4] = {TextMiddle(u, 7, 2), TextMiddle(u, 5, 2), TextMiddle(u, 3, 2), TextMiddle(u, 1, 2)};
    Text swapped = JoinTexts(pairs[0], pairs[1], pairs[2], pairs[3]);
    for (Text p : pairs) FreeBlock(p);
    FreeBlock(u);
    return swapped;
}

int64_t HexToNumber(TextArg text) {
    Text upper = TextUpper(text);
    int32_t length = (int32_t)TextLength(upper);
    int64_t sum = 0;
    int64_t weight = 1; // 16^(n-1) for the n-th digit from the end
    for (int32_t n = 1; n <= length; ++n) {
        uint8_t c = (uint8_t)upper[length - n];
        int64_t digit = 0; // a character that is no hexadecimal digit counts 0
        if (c >= 'A' && c <= 'F')
            digit = c - (int64_t)ConstDouble(K_LetterACode) + (int64_t)ConstDouble(K_LetterAValue);
        else if (c >= '0' && c <= '9') digit = c - '0';
        sum += digit * weight;
        weight *= 16;
    }
    FreeBlock(upper);
    return sum;
}
