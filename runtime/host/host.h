// Set-up of the direct host.
#pragma once

namespace rt::host {

// Binds the image's DLL command table (contract/dll_commands.def) to the platform functions.
// False when a function is missing (its command then ends in the runtime error service).
bool BindDllCommands();

} // namespace rt::host
