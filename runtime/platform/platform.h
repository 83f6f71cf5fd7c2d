// The platform's side of the DLL commands: the function behind a DLL file name and an exported
// function name. On Linux the three system modules are emulated (platform/linux/); a Windows build
// binds the real ones. Callers see only this header.
#pragma once

#include <string>
#include <string_view>

namespace rt::platform {

// The function for a DLL file name (without regard to case; "kernel32" and "kernel32.dll" are one
// module) and an exported function name; null when this platform has no such function.
void *FindDllFunction(std::string_view dll, std::string_view function);

// Where the ICMP helper is looked for, on the platform that needs one (Linux, where unprivileged ICMP
// sockets are closed): its file name beside the running program, then in the package's folder. The
// product says so at its start; until it has, no helper is started.
struct EchoHelperPlace {
    std::string fileName;      // a bare file name
    std::string packageFolder; // absolute, without a trailing slash
};
void SetEchoHelperPlace(EchoHelperPlace place);

} // namespace rt::platform
