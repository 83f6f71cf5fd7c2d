// The twelve services behind the image's slots, as plain functions of the runtime instance.
// The direct host calls them from the entry points of contract/rt.h; the image loader's slot
// trampolines jump to them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "contract/abi.h"

namespace rt::service {

// On 32-bit Windows the image's code, compiled for i386 as System V does it, expects a function that
// returns a record to take the record's hidden address off the stack itself; Windows compilers leave
// that to the caller. The slot functions do it the image's way.
#if defined(_WIN32) && defined(__i386__)
#define RT_SLOT_CONVENTION __attribute__((callee_pop_aggregate_return(1)))
#else
#define RT_SLOT_CONVENTION
#endif

// The services of contract/services.def by their entry points' names (slot 0x04 is rt_dll_dispatch).
#define SERVICE(slot, name, result, parameters, arguments) RT_SLOT_CONVENTION result name parameters;
#define DLL_SERVICE(slot, name)
#include "contract/services.def"
#undef SERVICE
#undef DLL_SERVICE

// The function behind a slot offset: a service, the DLL dispatcher, or for the unused slot 0x1C a
// function that ends in the error service.
void *SlotFunction(uint32_t slot);

// The functions bound to the DLL commands, by command index; slot 0x04 jumps through it.
extern "C" void *rt_dll_functions[RtMaxDllCommands];
extern "C" uint32_t rt_dll_function_count;
// Binds a DLL command: slot 0x04 then jumps to the function for that index; the command's function and
// DLL names go into the messages of errors it causes.
void BindDllCommand(uint32_t index, void *function, std::string_view dll, std::string_view name);
// "lstrlenA in kernel32.dll": the bound command's function and DLL; empty for an unbound index.
std::string DllCommandName(uint32_t index);
// Called by slot 0x04 for an index without a bound function.
extern "C" [[noreturn]] void rt_dll_unbound(uint32_t index);

} // namespace rt::service
