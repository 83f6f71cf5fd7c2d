#include "../image/commands.h"
#include "../image/identifiers.h"
#include "ui.h"

extern "C" {

void RtWindowHandler() { LoadHistory(); }

void StartClicked() {
    RecordHistory();
    // The trace runs on a thread of its own; the handler keeps no handle and does not wait.
    Library(RT_SYMBOL_VALUE(LibRow_Threading), 0, ArgRoutine(RtThreadEntry), ArgOmitted(), ArgOmitted());
    // Disabled only once the thread has been started; the trace enables it again at its end.
    RtSetProperty(CONTROL(Id_StartButton), RtPropertyDisabled, -1, 1);
}

void ClearClicked() { ClearHistory(); }

void PicturePressed(int32_t, int32_t, int32_t) {
    Library(RT_SYMBOL_VALUE(LibRow_AppInterface), 0xe0, ArgText(K_MakerAddress));
}

void AboutSelected() { Library(RT_SYMBOL_VALUE(LibRow_AppInterface), 0xe0, ArgText(K_MakerAddress)); }

void ExitSelected() { Core(0x360, ArgUnit(UNIT_REF(Id_WindowUnit, Type_Window)), ArgOmitted()); }
}
