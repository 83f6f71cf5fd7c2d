#include "support.h"

#include "code_order.h"

// Word reads stay inside the aligned word that holds the NUL, so they never leave the page; the
// address sanitizer cannot know that.
RT_CODE_FIRST(1) __attribute__((no_sanitize("address"))) uint32_t TextLength(TextArg text) {
    if (!text) return 0;
    const char *p = text;
    // Byte by byte until aligned, then a word at a time: a word holds a zero byte exactly when
    // (w - 0x01..01) & ~w & 0x80..80 is non-zero. Aligned word reads never cross a page.
    while (((uintptr_t)p & 7) != 0) {
        if (*p == 0) return (uint32_t)(p - text);
        ++p;
    }
    for (;;) {
        uint64_t w;
        __builtin_memcpy(&w, p, 8);
        if (((w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull) != 0) break;
        p += 8;
    }
    while (*p) ++p;
    return (uint32_t)(p - text);
}

RT_CODE_FIRST(2) Text JoinTextArray(uint32_t count, const TextArg *texts) {
    // The lengths of the first parts are kept (the program joins a handful at a time), so that each
    // text is measured once.
    constexpr uint32_t kKept = 8;
    uint32_t lengths[kKept];
    uint32_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t n = TextLength(texts[i]);
        if (i < kKept) lengths[i] = n;
        total += n;
    }
    Text out = (Text)RtAlloc(total + 1);
    char *p = out;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t n = i < kKept ? lengths[i] : TextLength(texts[i]);
        if (n) __builtin_memcpy(p, texts[i], n); // a null text has nothing to copy
        p += n;
    }
    *p = 0;
    return out;
}

// Arrays in the const segment are packed without alignment, so their words are read byte-wise.
static uint32_t ArrayWord(const void *array, uint32_t index) {
    uint32_t w;
    __builtin_memcpy(&w, (const uint8_t *)array + 4 * index, 4);
    return w;
}

RT_CODE_FIRST(3) ArrayElements ArrayElementCount(Array array) {
    uint32_t dimensions = ArrayWord(array, 0);
    uint32_t count = dimensions == 0 ? 0 : 1;
    for (uint32_t i = 0; i < dimensions; ++i) count *= ArrayWord(array, 1 + i);
    return ArrayElements{count, (void *)((uint8_t *)array + 4 * (1 + dimensions))};
}

RT_CODE_FIRST(4) ArrayElements ArrayElementCountOrZero(Array array) {
    if (!array) return ArrayElements{0, nullptr};
    return ArrayElementCount(array);
}

int64_t FloatToInt64(double value) {
    int64_t result;
#if defined(__i386__)
    // The x87 store rounds as its control word says: truncation for this one store, then put back.
    uint16_t saved, truncating;
    __asm__ volatile("fnstcw %0" : "=m"(saved));
    truncating = (uint16_t)(saved | 0x0C00);
    __asm__ volatile("fldcw %0" : : "m"(truncating));
    __asm__ volatile("fistpll %0" : "=m"(result) : "t"(value) : "st");
    __asm__ volatile("fldcw %0" : : "m"(saved));
#else
    // cvttsd2si always truncates, independent of the rounding mode in MXCSR or the x87 control word.
    __asm__("cvttsd2si %1, %0" : "=r"(result) : "x"(value));
#endif
    return result;
}

int32_t CompareText(TextArg a, TextArg b) {
    const unsigned char *x = (const unsigned char *)(a ? a : "");
    const unsigned char *y = (const unsigned char *)(b ? b : "");
    while (*x && *x == *y) {
        ++x;
        ++y;
    }
    if (*x == *y) return 0;
    return *x < *y ? -1 : 1;
}

void FreeTextArray(Array array) {
    ArrayElements e = ArrayElementCountOrZero(array);
    Text *texts = (Text *)e.first;
    for (uint32_t i = 0; i < e.count; ++i) FreeBlock(texts[i]);
    FreeBlock(array);
}

TextArg TextArrayAt(Array array, int32_t index, uint32_t subroutine, int32_t position) {
    ArrayElements e = ArrayElementCountOrZero(array);
    if (index < 1) RtError(RtErrorIndexBelowOne, subroutine, position);
    if ((uint32_t)index > e.count) RtError(RtErrorIndexAboveBound, subroutine, position);
    return ((Text *)e.first)[index - 1];
}

uint8_t ByteSetAt(ByteSet bytes, int32_t index, uint32_t subroutine, int32_t position) {
    ArrayElements e = ArrayElementCountOrZero(bytes);
    if (index < 1) RtError(RtErrorIndexBelowOne, subroutine, position);
    if ((uint32_t)index > e.count) RtError(RtErrorIndexAboveBound, subroutine, position);
    return ((uint8_t *)e.first)[index - 1];
}
