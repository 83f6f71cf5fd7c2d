// The twelve services behind the image's slots, as plain functions of the runtime instance.
// The direct host calls them from the entry points of image/rt.h; the image loader's slot
// trampolines jump to them.
#pragma once

#include <cstdint>

#include "../image/abi.h"

namespace rt::service {

[[noreturn]] void Error(int32_t kind, uint32_t subroutine, int32_t position);
RtResult LibraryCommand(uint32_t row, uint32_t command, uint32_t count, const RtTriple *args);
RtResult CoreCommand(uint32_t command, uint32_t count, const RtTriple *args);
uint64_t GetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t index);
void SetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t index, uint64_t value);
void *Alloc(uint32_t size);
void Free(void *block);
[[noreturn]] void Exit(int32_t code);
void RunEvents();
void ShowWindow(uint32_t window);
void Register(uint32_t selector, uintptr_t a, uintptr_t b);

// The functions bound to the DLL commands, by command index; slot 0x04 jumps through it.
inline constexpr uint32_t kMaxDllCommands = 64;
extern "C" void *rt_dll_functions[kMaxDllCommands];
extern "C" uint32_t rt_dll_function_count;
// Called by slot 0x04 for an index without a bound function.
extern "C" [[noreturn]] void rt_dll_unbound(uint32_t index);

} // namespace rt::service
