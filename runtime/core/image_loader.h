// Places and fixes up a validated program image, builds its service table, binds its DLL commands,
// and gives its start routine.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "formats/result.h"

namespace rt {

struct PreparedImage {
    void (*start)() = nullptr; // the start routine
    uint8_t *code = nullptr;   // the code segment's data, as placed
    uint32_t codeSize = 0;
    const uint8_t *form = nullptr; // the form segment's data
    uint32_t formSize = 0;
    uint8_t *var = nullptr; // the var segment
    uint32_t *serviceTable = nullptr;
};

enum class LoadError {
    InvalidImage,       // validation found problems (listed in the detail)
    MissingDllFunction, // the platform lacks a function the image calls
    NoLowMemory,        // nothing could be mapped below 2 GiB
};
struct LoadFailure {
    LoadError code;
    std::string detail;
};
std::string Describe(const LoadFailure &f);

// The platform's function for a DLL file name and function name; null when it has none.
using DllResolver = void *(*)(std::string_view dll, std::string_view function);

// Places a copy of the image below 2 GiB, fixes it up and makes it read-only and executable; builds
// the service table and binds the DLL commands through `resolve`. `size` bounds every read of `image`.
Result<PreparedImage, LoadFailure> PrepareImage(const uint8_t *image, size_t size, DllResolver resolve);

// The readable bytes from an address to the end of the mapping that holds it (from /proc/self/maps),
// and whether that mapping is writable and executable.
struct MappingInfo {
    size_t available = 0;
    bool writable = false;
    bool executable = false;
};
MappingInfo FindMapping(const void *address);

} // namespace rt
