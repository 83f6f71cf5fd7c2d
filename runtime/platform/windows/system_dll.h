// How the Windows runtime loads the system's own modules for the DLL commands.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace rt::platform {

// Whether the loader knows LOAD_LIBRARY_SEARCH_SYSTEM32: Windows 8 on, and Windows 7 with its 2011
// loader update (KB2533623), which brought AddDllDirectory with it.
bool SystemSearchKnown();

// The module's full path in the system folder (GetSystemDirectoryW), ".dll" added to a bare name;
// empty for a name that is not a plain file name (a folder, a drive, "..").
std::wstring SystemDllPath(std::string_view dll);

// The system's module of that name, from the system folder only: by the loader's system-folder
// search where it knows it, otherwise by its full path there; never through the search path, so a
// DLL of the same name beside the program or in the current folder is never loaded in its place.
HMODULE LoadSystemDll(std::string_view dll, bool systemSearchKnown);

} // namespace rt::platform
