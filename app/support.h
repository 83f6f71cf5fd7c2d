// Support routines of the image: small routines that all application code uses.
#pragma once

#include "app/constants.h"
#include "contract/rt.h"

// Bytes before the NUL; 0 for a null text.
uint32_t TextLength(TextArg text);

// A new text holding the given texts one after another; null texts count as empty.
Text JoinTextArray(uint32_t count, const TextArg *texts);
template <typename... Texts> inline Text JoinTexts(Texts... texts) {
    const TextArg list[] = {texts...};
    return JoinTextArray(sizeof...(Texts), list);
}

// The element count of an array and the address of its first element.
struct ArrayElements {
    uint32_t count; // product of the dimension sizes; 0 with no dimensions
    void *first;    // the first element
};
ArrayElements ArrayElementCount(Array array);
// The same for an array that may be null: a null array has no elements.
ArrayElements ArrayElementCountOrZero(Array array);

// A floating value truncated toward zero, whatever rounding mode is set.
int64_t FloatToInt64(double value);

// Compares two texts byte by byte as unsigned values; null counts as empty.
// 0 when equal, -1 when the first is smaller at the first difference (a proper prefix is smaller), 1 otherwise.
int32_t CompareText(TextArg a, TextArg b);

// Frees an array of texts: each non-null element, then the array.
void FreeTextArray(Array array);

// Frees a text or byte set the runtime returned, if any.
inline void FreeBlock(void *block) {
    if (block) RtFree(block);
}

// The text element at a 1-based index of an array of texts; a bad index ends in the runtime error
// service with the subroutine's identifier and the position given.
TextArg TextArrayAt(Array array, int32_t index, uint32_t subroutine, int32_t position);
// The byte at a 1-based index of a byte set, checked the same way.
uint8_t ByteSetAt(ByteSet bytes, int32_t index, uint32_t subroutine, int32_t position);

// Floating comparisons with the program's tolerance of 1e-7 (a constant of the image).
inline bool FloatEquals(double a, double b) {
    double tolerance = ConstDouble(K_Tolerance);
    return a - b <= tolerance && b - a <= tolerance;
}
inline bool FloatLess(double a, double b) { return a - b < ConstDouble(K_NegativeTolerance); }
inline bool FloatGreater(double a, double b) { return a - b > ConstDouble(K_Tolerance); }
