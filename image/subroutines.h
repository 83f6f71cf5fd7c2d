// Identifiers of the application's subroutines, as runtime errors report them.
#pragma once

enum SubroutineId : unsigned {
    Sub_TraceRun = 0x04010001,
    Sub_SocketCheck = 0x04010002,
    Sub_ResolveTarget = 0x04010003,
    Sub_ProbeHop = 0x04010004,
    Sub_AddressText = 0x04010005,
    Sub_CopyNativeText = 0x04010006,
    Sub_FillHopRow = 0x04010007,
    Sub_LookupLocation = 0x04010010,
    Sub_FindIndexEntry = 0x04010011,
    Sub_AddressToNumber = 0x04010012,
    Sub_PadHex8 = 0x04010013,
    Sub_SwapHexPairs = 0x04010014,
    Sub_HexToNumber = 0x04010015,
    Sub_ReadPlace = 0x04010016,
    Sub_ReadCountryText = 0x04010017,
    Sub_ReadAreaText = 0x04010018,
    Sub_LoadHistory = 0x04010020,
    Sub_RecordHistory = 0x04010021,
    Sub_ClearHistory = 0x04010022,
};
