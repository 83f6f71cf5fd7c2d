// The direct host: the image's service entry points (contract/rt.h) defined by calling the runtime
// directly, so that application routines run in ordinary binaries without an image.
#include "contract/rt.h"
#include "runtime/core/services.h"
#include "host.h"

#include <string_view>

#include "runtime/frontends/console_frontend.h"
#include "runtime/platform/platform.h"

// Every service but slot 0x04, whose entry point is host/dll_dispatch.S.
extern "C" {
#define SERVICE(slot, name, result, parameters, arguments) \
    result name parameters { return rt::service::name arguments; }
#define NORETURN_SERVICE(slot, name, parameters, arguments) \
    [[noreturn]] void name parameters { rt::service::name arguments; }
#define DLL_SERVICE(slot, name)
#include "contract/services.def"
#undef SERVICE
#undef NORETURN_SERVICE
#undef DLL_SERVICE
}

namespace rt::host {

bool BindDllCommands() {
    bool all = true;
    uint32_t count = 0;
#define DLL_COMMAND(index, dll, function, thunk, argumentBytes)                                      \
    rt::service::BindDllCommand(index, rt::platform::FindDllFunction(dll, function), dll, function); \
    all = all && rt::service::rt_dll_functions[index] != nullptr;                                    \
    count = index + 1;
#include "contract/dll_commands.def"
#undef DLL_COMMAND
    rt::service::rt_dll_function_count = count;
    return all;
}

// The direct host binds the DLL commands before main, as the image loader does before the start routine.
[[maybe_unused]] const bool g_bound = BindDllCommands();

// The direct host is the runtime's entry of the programs it runs: they have no window until they
// choose one, so messages and web addresses go to standard error.
[[maybe_unused]] const bool g_console = [] {
    rt::Runtime::Instance().SetFrontEnd(rt::MakeConsoleFrontEnd());
    return true;
}();

} // namespace rt::host
