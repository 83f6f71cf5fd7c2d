// The DLL commands on Windows: the system's own modules, loaded by name and asked for the function.
// Nothing is emulated on this platform.
#include <windows.h>

#include <string>

#include "formats/text/wide.h"
#include "runtime/platform/platform.h"

namespace rt::platform {

void *FindDllFunction(std::string_view dll, std::string_view function) {
    // From the system folder only: a DLL of the same name beside the program, or in the current
    // folder, is never loaded in place of the system's. The module stays loaded for the process's life.
    HMODULE module = ::LoadLibraryExW(Utf8ToWide(dll).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) return nullptr;
    std::string name(function); // export names match exactly
    return reinterpret_cast<void *>(::GetProcAddress(module, name.c_str()));
}

} // namespace rt::platform
