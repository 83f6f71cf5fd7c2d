// The few library routines a compiler may call on its own even in freestanding code (for struct
// copies and zero-filled locals). Part of the image only; the direct host uses the C library's.
#include <stddef.h>

extern "C" {

void *memcpy(void *destination, const void *source, size_t n) {
    auto *d = static_cast<unsigned char *>(destination);
    auto *s = static_cast<const unsigned char *>(source);
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
    return destination;
}

void *memmove(void *destination, const void *source, size_t n) {
    auto *d = static_cast<unsigned char *>(destination);
    auto *s = static_cast<const unsigned char *>(source);
    if (d < s) {
        for (size_t i = 0; i < n; ++i) d[i] = s[i];
    } else {
        for (size_t i = n; i > 0; --i) d[i - 1] = s[i - 1];
    }
    return destination;
}

void *memset(void *destination, int value, size_t n) {
    auto *d = static_cast<unsigned char *>(destination);
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<unsigned char>(value);
    return destination;
}

int memcmp(const void *a, const void *b, size_t n) {
    auto *x = static_cast<const unsigned char *>(a);
    auto *y = static_cast<const unsigned char *>(b);
    for (size_t i = 0; i < n; ++i)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}
}
