// Validates, places and fixes up a program image, and gives its start routine.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace rt {

struct ImageLayout {
    uint32_t constData = 0, constSize = 0;
    uint32_t formData = 0, formSize = 0;
    uint32_t codeData = 0, codeSize = 0;
    uint32_t codeHeader = 0, codeRelocs = 0;
    uint32_t varSize = 0;
    uint32_t reloc1Data = 0;
    uint32_t startRoutine = 0;
    uint32_t dllCount = 0;
    uint32_t extent = 0; // bytes from the image's start to the end of the last thing it holds
};

// Checks every header, range, relocation and fixup of an image held in `bytes` and lists each
// problem; the layout is meaningful only when the list is empty.
std::vector<std::string> ValidateImage(std::span<const uint8_t> bytes, ImageLayout &layout);

// The DLL file and function names of the image's DLL command table (valid image).
struct DllName {
    std::string dll;
    std::string function;
};
std::vector<DllName> ImageDllNames(std::span<const uint8_t> bytes, const ImageLayout &layout);

// Adds each relocation's base (service table, const data, var segment, code data, by kind) to the
// 32-bit value at its offset in the code. The image must have been validated.
void ApplyRelocations(uint8_t *image, const ImageLayout &layout, const uint32_t bases[4]);

struct PreparedImage {
    std::string error;             // empty when the image is ready to run
    void (*start)() = nullptr;     // the start routine
    uint8_t *code = nullptr;       // the code segment's data, as placed
    uint32_t codeSize = 0;
    const uint8_t *form = nullptr; // the form segment's data
    uint32_t formSize = 0;
    uint8_t *var = nullptr;        // the var segment
    uint32_t *serviceTable = nullptr;
};

// Places the image at `image` (fixing it up in place when that memory is writable, executable and
// below 2 GiB, otherwise in a copy), builds the service table and binds the DLL commands.
// `size` bounds every read.
PreparedImage PrepareImage(uint8_t *image, size_t size);

// The readable bytes from an address to the end of the mapping that holds it (from /proc/self/maps),
// and whether that mapping is writable and executable.
struct MappingInfo {
    size_t available = 0;
    bool writable = false;
    bool executable = false;
};
MappingInfo FindMapping(const void *address);

} // namespace rt
