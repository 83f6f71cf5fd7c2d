#include "app/code_order.h"
#include "app/commands.h"
#include "contract/dll.h"
#include "contract/identifiers.h"
#include "app/subroutines.h"
#include "app/support.h"
#include "trace.h"

// In the var segment, zero at start; used by the trace thread alone.
__attribute__((section(".rtvar"))) int32_t CurrentRow = 0;

namespace {

// WSADATA as the program declares it: version, highest version, description, status, limits,
// vendor information: 398 bytes packed.
const FieldLayout kWsaData[] = {{FieldU16, 0}, {FieldU16, 0}, {FieldBytes, 257}, {FieldBytes, 129},
                                {FieldU16, 0}, {FieldU16, 0}, {FieldU32, 0}};
// hostent: name, aliases, address type, address length, address list: 16 bytes.
const FieldLayout kHostEnt[] = {{FieldU32, 0}, {FieldU32, 0}, {FieldU16, 0}, {FieldU16, 0}, {FieldU32, 0}};
enum HostField { HostName, HostAliases, HostType, HostLength, HostList, HostFields };

constexpr uint32_t kSocketVersion = 0x0101;
constexpr int32_t kFirstHop = 1;
constexpr int32_t kLastHop = 255;

UnitRef ResultList() { return UNIT_REF(Id_ResultList, Type_ListView); }

Text GetText(uint32_t unit, int32_t property) {
    return (Text)(uintptr_t)RtGetProperty(RT_SYMBOL_VALUE(Id_MainWindow), unit, property, -1);
}
void SetText(uint32_t unit, TextArg text) {
    RtSetProperty(RT_SYMBOL_VALUE(Id_MainWindow), unit, RtPropertyEditText, -1, (uint64_t)(uintptr_t)text);
}
void EnableStartButton() { RtSetProperty(CONTROL(Id_StartButton), RtPropertyDisabled, -1, 0); }

// WSAStartup with a WSADATA record passed by reference; its result.
int32_t StartSockets() {
    RecordWord wsadata[RECORD_FIELDS(kWsaData)] = {};
    uint8_t *native = PackRecord(kWsaData, RECORD_FIELDS(kWsaData), wsadata);
    int32_t result = Dll_WSAStartup(kSocketVersion, native);
    UnpackRecord(kWsaData, RECORD_FIELDS(kWsaData), wsadata, native);
    ReleaseRecord(kWsaData, RECORD_FIELDS(kWsaData), wsadata);
    return result;
}

// The characters-per-packet box corrected to 32..128 (with the 1e-7 tolerance); its truncated value.
int32_t CorrectedDataSize() {
    uint32_t box = RT_SYMBOL_VALUE(Id_PacketSizeBox);
    Text typed = GetText(box, RtPropertyEditText);
    double x = TextToDouble(typed);
    FreeBlock(typed);
    if (FloatEquals(x, 0) || FloatLess(x, ConstDouble(K_SmallestData))) SetText(box, K_SmallestDataText);
    else if (FloatGreater(x, ConstDouble(K_LargestData))) SetText(box, K_LargestDataText);
    Text corrected = GetText(box, RtPropertyEditText);
    int32_t size = (int32_t)FloatToInt64(TextToDouble(corrected));
    FreeBlock(corrected);
    return size;
}

} // namespace

bool SocketCheck() { return StartSockets() == 0; }

Text ResolveTarget(TextArg target) {
    if (StartSockets() != 0) {
        ShowMessage(K_WinsockFailed, nullptr);
        return CopyText(K_Empty);
    }
    uintptr_t found = Dll_gethostbyname(target); // the target exactly as typed
    if (found == 0) {
        ShowMessage(K_HostNotFound, nullptr);
        Dll_WSACleanup();
        return CopyText(K_Empty);
    }
    RecordWord host[HostFields] = {};
    uint8_t *native = PackRecord(kHostEnt, HostFields, host);
    Dll_RtlMoveMemoryToRecord(native, found, 16);
    UnpackRecord(kHostEnt, HostFields, host, native);
    int32_t first = 0;
    Dll_RtlMoveMemoryToInt(&first, (uint32_t)host[HostList], 4);
    int32_t length = (int16_t)host[HostLength];

    Text dotted = CopyText(K_Empty);
    if (length > 0 && first != 0) {
        Text room = TextSpaces(length);
        ByteSet address = TextToBytes(room);
        FreeBlock(room);
        Dll_RtlMoveMemoryToAddress((uintptr_t)ArrayElementCount(address).first, (uint32_t)first, (uint32_t)length);
        for (int32_t i = 1; i <= length; ++i) {
            Text part = ByteText(ByteSetAt(address, i, Sub_ResolveTarget, 4));
            Text longer = JoinTexts(dotted, part, K_AddressDot);
            FreeBlock(part);
            FreeBlock(dotted);
            dotted = longer;
        }
        FreeBlock(address);
    }
    Dll_WSACleanup();
    // Without its last byte, the trailing ".".
    int32_t n = TextLen(dotted);
    Text result = TextLeft(dotted, n > 0 ? n - 1 : 0);
    FreeBlock(dotted);
    return result;
}

void TraceRun() {
    SetText(RT_SYMBOL_VALUE(Id_AddressBox), K_Empty);
    SetText(RT_SYMBOL_VALUE(Id_PacketCountBox), K_PacketCountText);
    ListClear(ResultList());
    int32_t dataSize = CorrectedDataSize();

    if (!SocketCheck()) {
        ShowMessage(K_SocketFailed, K_TraceTitle);
        EnableStartButton();
        return;
    }
    Text target = GetText(RT_SYMBOL_VALUE(Id_TargetBox), RtPropertyComboText);
    Text targetAddress = ResolveTarget(target); // a failure is told there; the trace goes on
    FreeBlock(target);
    uint32_t destination = Dll_inet_addr(targetAddress);
    uint32_t handle = Dll_IcmpCreateFile();
    if (handle == 0) {
        ShowMessage(K_IcmpFailed, K_TraceTitle);
        FreeBlock(targetAddress);
        EnableStartButton();
        return;
    }
    SetText(RT_SYMBOL_VALUE(Id_AddressBox), targetAddress);
    FreeBlock(targetAddress);

    RecordWord options[OptFields] = {};
    RecordWord reply[RepFields] = {};
    Text hopAddress = nullptr; // absent until the first answer; compares equal to the empty text
    for (int32_t hop = kFirstHop; hop <= kLastHop; ++hop) {
        options[OptTtl] = (RecordWord)hop;
        *CurrentRowCell() = ListAppendRow(ResultList());
        ProcessEvents();
        ProbeHop(handle, destination, dataSize, &hopAddress, reply, options);
        ProcessEvents();
        // The stop reference is the address box's text now: the user may have changed it.
        Text reference = GetText(RT_SYMBOL_VALUE(Id_AddressBox), RtPropertyEditText);
        bool reached = CompareText(hopAddress, reference) == 0;
        FreeBlock(reference);
        if (reached) {
            ShowMessage(K_TraceFinished, nullptr);
            break;
        }
        ProcessEvents();
    }
    Dll_IcmpCloseHandle(handle);
    EnableStartButton();
    FreeBlock(hopAddress);
    ReleaseRecord(kReplyBufferLayout, RepFields, reply);
}

extern "C" RT_CODE_LAST(1) void RtThreadEntry() { TraceRun(); }
