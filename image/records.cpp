#include "records.h"

#include "support.h"

namespace {

uint32_t FieldSize(const FieldLayout &f) { return f.kind == FieldBytes ? f.length : f.kind; }

} // namespace

uint32_t PackedRecordSize(const FieldLayout *layout, uint32_t fields) {
    uint32_t size = 0;
    for (uint32_t i = 0; i < fields; ++i) size += FieldSize(layout[i]);
    return size;
}

uint8_t *PackRecord(const FieldLayout *layout, uint32_t fields, const RecordWord *record) {
    uint32_t size = PackedRecordSize(layout, fields);
    uint8_t *native = (uint8_t *)RtAlloc(size);
    uint8_t *p = native;
    for (uint32_t i = 0; i < fields; ++i) {
        const FieldLayout &f = layout[i];
        if (f.kind == FieldBytes) {
            // The byte set's bytes, as many as the field holds; zeros where it has fewer.
            ArrayElements e = ArrayElementCountOrZero((Array)(uintptr_t)record[i]);
            uint32_t n = e.count < f.length ? e.count : f.length;
            if (n) __builtin_memcpy(p, e.first, n);
            for (uint32_t k = n; k < f.length; ++k) p[k] = 0;
        } else {
            uint64_t v = record[i];
            for (uint32_t k = 0; k < f.kind; ++k) p[k] = (uint8_t)(v >> (8 * k)); // narrowed, little-endian
        }
        p += FieldSize(f);
    }
    return native;
}

void UnpackRecord(const FieldLayout *layout, uint32_t fields, RecordWord *record, uint8_t *native) {
    const uint8_t *p = native;
    for (uint32_t i = 0; i < fields; ++i) {
        const FieldLayout &f = layout[i];
        if (f.kind == FieldBytes) {
            RtRegister(RtRegisterArrayField, (uintptr_t)&record[i], f.length);
            ArrayElements e = ArrayElementCount((Array)(uintptr_t)record[i]);
            __builtin_memcpy(e.first, p, f.length);
        } else {
            uint64_t v = 0;
            for (uint32_t k = 0; k < f.kind; ++k) v |= (uint64_t)p[k] << (8 * k); // widened
            record[i] = v;
        }
        p += FieldSize(f);
    }
    RtFree(native);
}

void ReleaseRecord(const FieldLayout *layout, uint32_t fields, RecordWord *record) {
    for (uint32_t i = 0; i < fields; ++i) {
        if (layout[i].kind == FieldBytes) FreeBlock((void *)(uintptr_t)record[i]);
        record[i] = 0;
    }
}
