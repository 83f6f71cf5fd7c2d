// The launcher's start-up sequence: payload to a private folder, core runtime loaded, image handed over.
#pragma once

#include <cstdint>
#include <string>

#include "contract/abi.h"
#include "formats/payload/payload.h"
#include "formats/result.h"

namespace launcher {

using GetNewSockFn = void *(RT_STDCALL *)(uint32_t);
using RuntimeEntryFn = int32_t(RT_STDCALL *)(const void *image);

inline constexpr uint32_t kGetNewSockArgument = RtInterfaceVersion;

// Why the start-up stopped. The first eleven are the system's own messages.
enum class Error {
    CantOpen,         // "Can't open file!"
    InvalidData,      // "Invalid data in the file!"
    ReadFailed,       // "Failed to read data from the file!"
    ReadOrInvalid,    // "Failed to read file or invalid data in file!"
    NoMemory,         // "Insufficient memory!"
    DecompressFailed, // "Failed to decompress data!"
    NoTempDir,        // "Can't retrieve the temporary directory!"
    NoKernel,         // "Not found the kernel library!"
    LoadFailed,       // "Failed to load kernel library!"
    InvalidKernel,    // "The kernel library is invalid!"
    InvalidInterface, // "The interface of kernel library is invalid!"
    WriteFailed,      // the runtime's files could not be written (the detail says why: a full disk, say)
    ElevatedStart,    // started with rights the program does not use
};
std::string_view Describe(Error e);

struct Failure {
    Error code;
    std::string detail; // the system's reason, where there is one
};
// The message, and the reason behind it.
std::string Describe(const Failure &f);

// Whether a payload entry names the core runtime library ("rtcore.slr" or "rtcore.slb", any case).
bool IsCoreLibraryName(std::string_view name);

// The folder name used when the payload names none: "Q_N" and the identifier in upper-case hex.
std::string DefaultFolderName(uint32_t folderId);

struct Prepared {
    RuntimeEntryFn entry = nullptr;
    std::string folder;      // where the files went
    std::string coreLibrary; // the core library's name as the payload spells it
};

// Everything up to calling the runtime entry.
rt::Result<Prepared, Failure> PrepareRuntime(const std::string &executable);

// The exit code of a report whose start failed (the report's own code for "no trace").
inline constexpr int kReportStartFailed = 2;

// Tells the user why the start stopped: "Error: MESSAGE" on standard error and, with `errorBox`
// (the window program), in the error box too.
void ShowFailure(const Failure &f, bool errorBox);

// The whole start-up: prepares, then calls the entry with the image and returns 0, or shows the
// failure (in the error box only when `failureCode` is 0, the window program's) and returns
// `failureCode`.
int Run(const void *image, int failureCode = 0);

} // namespace launcher
