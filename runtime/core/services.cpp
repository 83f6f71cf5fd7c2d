#include "services.h"

#include <cstring>
#include <span>
#include <string>

#include "runtime.h"

extern "C" void rt_dll_dispatch();

namespace rt::service {

extern "C" {
void *rt_dll_functions[RtMaxDllCommands] = {};
uint32_t rt_dll_function_count = 0;
}

namespace {
// Made at first use: the direct host binds its commands while static objects are constructed.
std::string *DllNames() {
    static std::string names[RtMaxDllCommands];
    return names;
}
} // namespace

void BindDllCommand(uint32_t index, void *function, std::string_view dll, std::string_view name) {
    if (index >= RtMaxDllCommands) return;
    rt_dll_functions[index] = function;
    DllNames()[index] = std::string(name) + " in " + std::string(dll);
}

std::string DllCommandName(uint32_t index) { return index < RtMaxDllCommands ? DllNames()[index] : std::string(); }

extern "C" void rt_dll_unbound(uint32_t index) {
    ErrorSite site;
    site.command = index;
    site.dll = true;
    Runtime::Instance().Fail(RtErrorUnknownCommand, site, "no function is bound to it");
}

void RtError(int32_t kind, uint32_t subroutine, int32_t position) {
    ErrorSite site;
    site.subroutine = subroutine;
    site.position = position;
    // A DLL command's thunk reports a moved stack with no subroutine and the command's index as the
    // position: the message names that command.
    if (kind == RtErrorStackMoved && subroutine == 0) {
        site.dll = true;
        site.command = uint32_t(position);
    }
    Runtime::Instance().Fail(kind, site);
}

RtResult RtLibraryCommand(uint32_t row, uint32_t command, uint32_t count, const RtTriple *args) {
    return Runtime::Instance().LibraryCommand(row, command, std::span<const RtTriple>(args, count));
}

RtResult RtCoreCommand(uint32_t command, uint32_t count, const RtTriple *args) {
    return Runtime::Instance().CoreCommand(command, std::span<const RtTriple>(args, count));
}

namespace {
bool IsTextProperty(int32_t property) { return property == RtPropertyEditText || property == RtPropertyComboText; }
ControlModel &Controls() { return Runtime::Instance().frontEnd().controls(); }
} // namespace

// The properties live in the control model: the window has one form, and the index is the program's -1.
// A text is answered as a new runtime text.
uint64_t RtGetProperty(uint32_t, uint32_t unit, int32_t property, int32_t) {
    if (property == RtPropertyDisabled) return Controls().Disabled(unit) ? 1 : 0;
    return ResultOfText(IsTextProperty(property) ? Controls().Text(unit) : std::string()).value;
}

void RtSetProperty(uint32_t, uint32_t unit, int32_t property, int32_t, uint64_t value) {
    if (property == RtPropertyDisabled) {
        Controls().SetDisabled(unit, value != 0);
    } else if (IsTextProperty(property)) {
        const char *text = reinterpret_cast<const char *>(static_cast<uintptr_t>(value));
        Controls().SetText(unit, text ? text : "");
    }
}

void *RtAlloc(uint32_t size) { return Runtime::Allocate(size); }

void RtFree(void *block) { Runtime::Free(block); }

void RtExit(int32_t code) { Runtime::Instance().Exit(code); }

void RtRunEvents() { Runtime::Instance().frontEnd().RunEvents(); }

void RtShowWindow(uint32_t window) { Runtime::Instance().frontEnd().ShowWindow(window); }

void RtRegister(uint32_t selector, uintptr_t a, uintptr_t b) {
    switch (selector) {
    case RtRegisterStartRoutine: Runtime::Instance().SetStartRoutine(a); break;
    case RtRegisterArrayField: {
        // The field holds a byte set; it gets a fresh zero-filled one of b bytes for the native copy.
        auto **field = reinterpret_cast<uint32_t **>(a);
        if (!field) break;
        auto *bytes = static_cast<uint32_t *>(Runtime::Allocate(8 + b));
        bytes[0] = 1;
        bytes[1] = uint32_t(b);
        std::memset(bytes + 2, 0, b);
        if (*field) Runtime::Free(*field);
        *field = bytes;
        break;
    }
    default: {
        ErrorSite site;
        site.command = 0x30;
        Runtime::Instance().Fail(RtErrorBadArgument, site, "unknown selector " + std::to_string(selector));
    }
    }
}

namespace {
[[noreturn]] void UnusedSlot() {
    ErrorSite site;
    site.command = 0x1C;
    Runtime::Instance().Fail(RtErrorUnknownCommand, site, "service slot 0x1C is not in use");
}
} // namespace

void *SlotFunction(uint32_t slot) {
    // Left as written: the formatter runs these two one-line macros together.
    // clang-format off
    switch (slot) {
#define SERVICE(slot, name, result, parameters, arguments)                                                   \
    case slot: return reinterpret_cast<void *>(&name);
#define DLL_SERVICE(slot, name)                                                                              \
    case slot: return reinterpret_cast<void *>(&rt_dll_dispatch);
#include "contract/services.def"
#undef SERVICE
#undef DLL_SERVICE
    default: return reinterpret_cast<void *>(&UnusedSlot);
    }
    // clang-format on
}

} // namespace rt::service
