// The direct host: the image's service entry points (image/rt.h) defined by calling the runtime
// directly, so that application routines run in ordinary binaries without an image.
#include "contract/rt.h"
#include "runtime/core/services.h"
#include "host.h"

#include <string_view>

#include "runtime/platform/platform.h"

extern "C" {
void RtError(int32_t kind, uint32_t subroutine, int32_t position) { rt::service::Error(kind, subroutine, position); }
RtResult RtLibraryCommand(uint32_t row, uint32_t command, uint32_t count, const RtTriple *args) {
    return rt::service::LibraryCommand(row, command, count, args);
}
RtResult RtCoreCommand(uint32_t command, uint32_t count, const RtTriple *args) {
    return rt::service::CoreCommand(command, count, args);
}
uint64_t RtGetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t index) {
    return rt::service::GetProperty(window, unit, property, index);
}
void RtSetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t index, uint64_t value) {
    rt::service::SetProperty(window, unit, property, index, value);
}
void *RtAlloc(uint32_t size) { return rt::service::Alloc(size); }
void RtFree(void *block) { rt::service::Free(block); }
void RtExit(int32_t code) { rt::service::Exit(code); }
void RtRunEvents() { rt::service::RunEvents(); }
void RtShowWindow(uint32_t window) { rt::service::ShowWindow(window); }
void RtRegister(uint32_t selector, uintptr_t a, uintptr_t b) { rt::service::Register(selector, a, b); }
}

namespace rt::host {

bool BindDllCommands() {
    bool all = true;
    uint32_t count = 0;
#define DLL_COMMAND(index, dll, function, thunk)                                                     \
    rt::service::rt_dll_functions[index] = rt::platform::FindDllFunction(dll, function);              \
    all = all && rt::service::rt_dll_functions[index] != nullptr;                                  \
    count = index + 1;
#include "contract/dll_commands.def"
#undef DLL_COMMAND
    rt::service::rt_dll_function_count = count;
    return all;
}

// The direct host binds the DLL commands before main, as the image loader does before the start routine.
[[maybe_unused]] const bool g_bound = BindDllCommands();

} // namespace rt::host
