#include "../image/identifiers.h"
#include "../ui/ui.h"

extern "C" void RtThreadEntry() {
    // Until the trace run exists, a trace ends at once and enables the start button again.
    RtSetProperty(CONTROL(Id_StartButton), RtPropertyDisabled, -1, 0);
}
