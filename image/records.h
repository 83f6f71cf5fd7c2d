// Records passed to DLL commands by reference.
//
// The application holds a record as one 64-bit word per field, in declaration order: integer
// fields of every width in a word of their own, a fixed-size byte array field as a byte set. A DLL
// function wants the packed native form instead: fields in declaration order, no alignment gaps,
// 8- and 16-bit fields narrowed, byte arrays copied whole. A call therefore packs a native copy
// into a runtime block, passes the copy's address, copies every field back and releases the copy.
#pragma once

#include "rt.h"

enum FieldKind : uint8_t {
    FieldU8 = 1,
    FieldU16 = 2,
    FieldU32 = 4,
    FieldBytes = 0x80, // a fixed-size byte array; its length is in the layout
};

struct FieldLayout {
    uint8_t kind;    // a FieldKind
    uint16_t length; // bytes of a FieldBytes field; unused otherwise
};

typedef uint64_t RecordWord;

// Bytes of the packed native form.
uint32_t PackedRecordSize(const FieldLayout *layout, uint32_t fields);

// A new runtime block holding the packed native copy of the record.
uint8_t *PackRecord(const FieldLayout *layout, uint32_t fields, const RecordWord *record);

// Copies every field back from the native copy (8- and 16-bit fields widened, byte arrays copied up
// to their declared length into a fresh byte set) and frees the copy.
void UnpackRecord(const FieldLayout *layout, uint32_t fields, RecordWord *record, uint8_t *native);

// Frees the byte sets a record holds and zeroes its words.
void ReleaseRecord(const FieldLayout *layout, uint32_t fields, RecordWord *record);

#define RECORD_FIELDS(layout) (uint32_t)(sizeof(layout) / sizeof((layout)[0]))
