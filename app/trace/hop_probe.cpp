#include "app/commands.h"
#include "contract/dll.h"
#include "contract/identifiers.h"
#include "app/support.h"
#include "app/ipdb/ipdb.h"
#include "trace.h"

const FieldLayout kOptionLayout[OptFields] = {{FieldU8, 0}, {FieldU8, 0}, {FieldU8, 0}, {FieldU32, 0}, {FieldU32, 0}};
const FieldLayout kReplyBufferLayout[RepFields] = {
    {FieldU32, 0}, {FieldU32, 0}, {FieldU32, 0}, {FieldU16, 0}, {FieldU16, 0},     {FieldU32, 0},  {FieldU8, 0},
    {FieldU8, 0},  {FieldU8, 0},  {FieldU32, 0}, {FieldU32, 0}, {FieldBytes, 256}, {FieldBytes, 8}};

namespace {

constexpr uint32_t kProbeTimeoutMs = 2400;
constexpr int32_t kFastest = 10;   // below: "<10 ms"
constexpr int32_t kSlowest = 1200; // above: "*"

enum Column { ColumnHop, ColumnAddress, ColumnPlace, ColumnTime };

void SetCell(int32_t column, TextArg text) {
    ListSetCell(UNIT_REF(Id_ResultList, Type_ListView), *CurrentRowCell(), column, text);
}

// The reply record's size as the platform measures the block that holds it.
uint32_t ReplyRecordSize(RecordWord *reply) {
    uint8_t *native = PackRecord(kReplyBufferLayout, kReplyRecordFields, reply);
    uint32_t size = Dll_GlobalSize(native);
    UnpackRecord(kReplyBufferLayout, kReplyRecordFields, reply, native);
    return size;
}

} // namespace

void ProbeHop(uint32_t handle, uint32_t destination, int32_t dataSize, Text *hopAddress, RecordWord *reply,
              RecordWord *options) {
    Text data = TextRepeat(dataSize, K_EchoDataByte);
    int32_t requestSize = TextLen(data);
    uint32_t replySize = ReplyRecordSize(reply) + (uint32_t)const_value::K_ReplySpare;

    uint8_t *nativeOptions = PackRecord(kOptionLayout, OptFields, options);
    uint8_t *nativeReply = PackRecord(kReplyBufferLayout, RepFields, reply);
    uint32_t answers = Dll_IcmpSendEcho(handle, destination, data, (uint32_t)requestSize, nativeOptions, nativeReply,
                                        replySize, kProbeTimeoutMs);
    UnpackRecord(kReplyBufferLayout, RepFields, reply, nativeReply);
    UnpackRecord(kOptionLayout, OptFields, options, nativeOptions);
    FreeBlock(data);

    // Any single answer counts: a router's Time Exceeded as much as the target's echo reply.
    if (answers != 1) return;
    Text address = AddressText((uint32_t)reply[RepAddress]);
    FreeBlock(*hopAddress);
    *hopAddress = address;
    FillHopRow((uint8_t)options[OptTtl], (int32_t)reply[RepRoundTrip], address);
}

Text AddressText(uint32_t address) { return CopyNativeText(Dll_inet_ntoa(address)); }

Text CopyNativeText(uintptr_t native) {
    int32_t length = Dll_lstrlenA(native);
    Text room = TextSpaces(length);
    Dll_lstrcpyA(room, native);
    Text copy = CopyText(room);
    FreeBlock(room);
    return copy;
}

void FillHopRow(uint8_t ttl, int32_t roundTripMs, TextArg hopAddress) {
    Text time;
    if (roundTripMs < kFastest) time = CopyText(K_FastReplyText);
    else if (roundTripMs > kSlowest) time = CopyText(K_SlowReplyText);
    else {
        Text number = IntText(roundTripMs);
        time = JoinTexts(number, K_MillisecondsUnit);
        FreeBlock(number);
    }
    Text hop = ByteText(ttl);
    SetCell(ColumnHop, hop);
    SetCell(ColumnAddress, hopAddress);
    Text place = LookupLocation(hopAddress, nullptr); // the default database path
    SetCell(ColumnPlace, place);
    SetCell(ColumnTime, time);
    FreeBlock(place);
    FreeBlock(hop);
    FreeBlock(time);
}
