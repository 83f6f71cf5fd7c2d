// Records passed by reference: packed native copy, copy back, release.
#include <cstring>

#include "host_fixture.h"
#include "contract/dll.h"
#include "app/records.h"

using namespace rt::testing;

namespace {
// An option-record-like layout: three bytes, then two 32-bit fields (11 bytes packed).
const FieldLayout kOptions[] = {{FieldU8, 0}, {FieldU8, 0}, {FieldU8, 0}, {FieldU32, 0}, {FieldU32, 0}};
// A record with a 16-bit field and a byte array.
const FieldLayout kMixed[] = {{FieldU32, 0}, {FieldU16, 0}, {FieldBytes, 5}, {FieldU8, 0}};
} // namespace

TEST(Records, PackNarrowsFieldsWithoutGaps) {
    EXPECT_EQ(PackedRecordSize(kOptions, RECORD_FIELDS(kOptions)), 11u);
    RecordWord options[5] = {0x1FF, 2, 3, 0x11223344, 0x55667788};
    uint8_t *native = PackRecord(kOptions, 5, options);
    const uint8_t expected[] = {0xFF, 2, 3, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55};
    EXPECT_EQ(std::memcmp(native, expected, sizeof expected), 0);
    EXPECT_EQ(Dll_GlobalSize(native), 11u); // the copy is a runtime block of exactly the record's size
    UnpackRecord(kOptions, 5, options, native);
    EXPECT_EQ(options[0], 0xFFu); // what the native field could hold comes back
    EXPECT_EQ(options[3], 0x11223344u);
}

TEST(Records, ByteArraysAreCopiedWholeBothWays) {
    RecordWord mixed[4] = {7, 0xABCD, (RecordWord)(uintptr_t)MakeBytes("xy"), 9};
    EXPECT_EQ(PackedRecordSize(kMixed, 4), 12u);
    uint8_t *native = PackRecord(kMixed, 4, mixed);
    EXPECT_EQ(std::memcmp(native + 6, "xy\0\0\0", 5), 0); // a shorter byte set is padded with zeros
    std::memcpy(native + 6, "HELLO", 5);                  // the callee writes the array and a byte
    native[11] = 0xEE;
    native[4] = 0x34;
    native[5] = 0x12;
    UnpackRecord(kMixed, 4, mixed, native);
    EXPECT_EQ(mixed[1], 0x1234u);
    EXPECT_EQ(mixed[3], 0xEEu);
    ArrayElements e = ArrayElementCount((Array)(uintptr_t)mixed[2]);
    ASSERT_EQ(e.count, 5u); // the field now holds an array of the declared size
    EXPECT_EQ(std::string((char *)e.first, 5), "HELLO");
    ReleaseRecord(kMixed, 4, mixed);
    EXPECT_EQ(mixed[2], 0u);
}
