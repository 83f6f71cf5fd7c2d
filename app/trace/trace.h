// One route trace: from the window's inputs to the end of the trace, one probe and one row per hop.
#pragma once

#include "app/records.h"
#include "contract/rt.h"

// The program's one global variable: the index of the result-list row the trace appended last.
extern "C" int32_t CurrentRow;

// CurrentRow by its absolute address: the var segment lies apart from the code, so the code holds
// the variable's address as a 32-bit immediate that the loader fixes up.
inline int32_t *CurrentRowCell() {
    int32_t *cell;
    __asm__("movl $" RT_ASM_C_NAME(CurrentRow) ", %k0" : "=r"(cell));
    return cell;
}

// The body of the trace thread.
void TraceRun();
// The trace thread's entry routine: the trace run.
extern "C" void RtThreadEntry();
// Whether the socket layer could be started.
bool SocketCheck();
// The dotted address of the target, or the empty text after a message.
Text ResolveTarget(TextArg target);
// Sends the hop's echo request and, on an answer, replaces the hop address text and fills the row.
void ProbeHop(uint32_t handle, uint32_t destination, int32_t dataSize, Text *hopAddress, RecordWord *reply,
              RecordWord *options);
// The dotted text of an address in network byte order.
Text AddressText(uint32_t address);
// A runtime text with the bytes of a text the platform owns.
Text CopyNativeText(uintptr_t native);
// Fills row CurrentRow: hop number, address, place, response time.
void FillHopRow(uint8_t ttl, int32_t roundTripMs, TextArg hopAddress);

// The records as the program holds them (one word per field) and their packed layouts.
// IP_OPTION_INFORMATION: time-to-live, type of service, flags, option size, option data: 11 bytes.
enum OptionField { OptTtl, OptTos, OptFlags, OptSize, OptData, OptFields };
// ICMP_ECHO_REPLY with its option record and data area (287 bytes), then 8 spare bytes: 295.
enum ReplyField {
    RepAddress,
    RepStatus,
    RepRoundTrip,
    RepDataSize,
    RepReserved,
    RepData,
    RepTtl,
    RepTos,
    RepFlags,
    RepOptionSize,
    RepOptionData,
    RepDataArea,
    RepSpare,
    RepFields
};
extern const FieldLayout kOptionLayout[OptFields];
extern const FieldLayout kReplyBufferLayout[RepFields];
// The reply record alone is the buffer without its spare bytes.
inline constexpr uint32_t kReplyRecordFields = RepSpare;
