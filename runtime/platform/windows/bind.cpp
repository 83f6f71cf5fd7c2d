// The DLL commands on Windows: the system's own modules, loaded by name and asked for the function.
// Nothing is emulated on this platform.
#include "system_dll.h"

#include <string>

#include "formats/text/wide.h"
#include "runtime/platform/platform.h"

namespace rt::platform {

bool SystemSearchKnown() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    return kernel && ::GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

std::wstring SystemDllPath(std::string_view dll) {
    if (dll.empty() || dll == "." || dll == ".." || dll.find_first_of("\\/:") != std::string_view::npos) return {};
    wchar_t folder[MAX_PATH];
    UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring path = std::wstring(folder, n) + L"\\" + Utf8ToWide(dll);
    // The loader adds ".dll" to a bare name; said here so the path names the very file.
    if (dll.find('.') == std::string_view::npos) path += L".dll";
    return path;
}

HMODULE LoadSystemDll(std::string_view dll, bool systemSearchKnown) {
    std::wstring path = SystemDllPath(dll);
    if (path.empty()) return nullptr;
    if (systemSearchKnown) return ::LoadLibraryExW(Utf8ToWide(dll).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // The module's own dependencies are then looked for beside it, in the system folder, first.
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void *FindDllFunction(std::string_view dll, std::string_view function) {
    static const bool searchKnown = SystemSearchKnown();
    // The module stays loaded for the process's life.
    HMODULE module = LoadSystemDll(dll, searchKnown);
    if (!module) return nullptr;
    std::string name(function); // export names match exactly
    return reinterpret_cast<void *>(::GetProcAddress(module, name.c_str()));
}

} // namespace rt::platform
