#include "services.h"

#include <cstring>
#include <span>
#include <string>

#include "runtime.h"

namespace rt::service {

extern "C" {
void *rt_dll_functions[kMaxDllCommands] = {};
uint32_t rt_dll_function_count = 0;
}

extern "C" void rt_dll_unbound(uint32_t index) {
    ErrorSite site;
    site.command = index;
    site.dll = true;
    Runtime::Instance().Fail(RtErrorUnknownCommand, site, "no function is bound to it");
}

void Error(int32_t kind, uint32_t subroutine, int32_t position) {
    ErrorSite site;
    site.subroutine = subroutine;
    site.position = position;
    Runtime::Instance().Fail(kind, site);
}

RtResult LibraryCommand(uint32_t row, uint32_t command, uint32_t count, const RtTriple *args) {
    return Runtime::Instance().LibraryCommand(row, command, std::span<const RtTriple>(args, count));
}

RtResult CoreCommand(uint32_t command, uint32_t count, const RtTriple *args) {
    return Runtime::Instance().CoreCommand(command, std::span<const RtTriple>(args, count));
}

uint64_t GetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t index) {
    return Runtime::Instance().frontEnd().GetProperty(window, unit, property, index);
}

void SetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t index, uint64_t value) {
    Runtime::Instance().frontEnd().SetProperty(window, unit, property, index, value);
}

void *Alloc(uint32_t size) { return Runtime::Allocate(size); }

void Free(void *block) { Runtime::Free(block); }

void Exit(int32_t code) { Runtime::Instance().Exit(code); }

void RunEvents() { Runtime::Instance().frontEnd().RunEvents(); }

void ShowWindow(uint32_t window) { Runtime::Instance().frontEnd().ShowWindow(window); }

void Register(uint32_t selector, uintptr_t a, uintptr_t b) {
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

} // namespace rt::service
