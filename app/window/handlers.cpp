#include "app/code_order.h"
#include "app/commands.h"
#include "contract/identifiers.h"
#include "app/trace/trace.h"
#include "ui.h"

extern "C" {

RT_CODE_LAST(2) void RtWindowHandler() { LoadHistory(); }

void StartClicked() {
    RecordHistory();
    // The trace runs on a thread of its own; the handler keeps no handle and does not wait.
    StartThread(RtThreadEntry);
    // Disabled only once the thread has been started; the trace enables it again at its end.
    RtSetProperty(CONTROL(Id_StartButton), RtPropertyDisabled, -1, 1);
}

void ClearClicked() { ClearHistory(); }

void PicturePressed(int32_t, int32_t, int32_t) { OpenUrl(K_MakerAddress); }

void AboutSelected() { OpenUrl(K_MakerAddress); }

void ExitSelected() { EndProgram(UNIT_REF(Id_WindowUnit, Type_Window)); }
}
