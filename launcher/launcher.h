// The launcher's start-up sequence: payload to temporary folder, core runtime loaded, image handed over.
#pragma once

#include <cstdint>
#include <string>

#include "contract/abi.h"
#include "formats/payload/payload.h"

namespace launcher {

using GetNewSockFn = void *(*)(uint32_t);
using RuntimeEntryFn = int32_t (*)(const void *image);

inline constexpr uint32_t kGetNewSockArgument = RtInterfaceVersion;

// The messages of the start-up failures that are not the payload reader's.
inline constexpr const char kCantOpen[] = "Can't open file!";
inline constexpr const char kNoTempDir[] = "Can't retrieve the temporary directory!";
inline constexpr const char kNoKernel[] = "Not found the kernel library!";
inline constexpr const char kLoadFailed[] = "Failed to load kernel library!";
inline constexpr const char kInvalidKernel[] = "The kernel library is invalid!";
inline constexpr const char kInvalidInterface[] = "The interface of kernel library is invalid!";

// Whether a payload entry names the core runtime library ("rtcore.slr" or "rtcore.slb", any case).
bool IsCoreLibraryName(std::string_view name);

// The folder name used when the payload names none: "Q_N" and the identifier in upper-case hex.
std::string DefaultFolderName(uint32_t folderId);

struct StartResult {
    std::string message;          // the first failure; empty on success
    RuntimeEntryFn entry = nullptr;
    std::string folder;           // where the files went
    std::string coreLibrary;      // the core library's name as the payload spells it
};

// Steps 1 to 19 of the start-up: everything up to calling the runtime entry.
StartResult PrepareRuntime(const std::string &executable);

// The whole start-up: prepares, then calls the entry with the image or shows the error box. Returns 0.
int Run(const void *image);

} // namespace launcher
