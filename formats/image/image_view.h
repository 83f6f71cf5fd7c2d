// A program image, validated: every header, range, relocation and fixup checked before anything
// uses them. Only ValidateImage constructs an ImageView, so code that applies relocations or reads
// the DLL table can rely on what validation proved.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/result.h"

namespace image {

enum class Problem {
    ShortHeader,            // shorter than its header
    TooManyDllCommands,     // the DLL command count is above the limit
    DllTableOutside,        // the DLL command table runs past the image
    LibraryTableUnended,    // the library table has no empty row before the end
    TooManyLibraryRows,     // more library rows than the limit
    ChainLoops,             // the segment chain comes back to a header it passed
    TooManySegments,        // the chain is longer than the limit
    SegmentHeaderOutside,   // a segment header lies outside the image
    HeaderSizeMismatch,     // a header's size does not match its relocation count
    RelocationsOutside,     // a header's relocation entries run past the image
    StoredSizeWithoutData,  // a stored size, but no stored data
    DataOutside,            // a segment's data lies outside the image
    MemoryBelowStored,      // a memory size below the stored size
    SegmentTwice,           // a segment name appears twice
    SegmentMissing,         // a segment the image needs is missing
    WrongFlags,             // a segment's flags are not its kind's
    UnknownSegment,         // a segment name that no image has
    RelocationsInSegment,   // relocation entries in a segment other than code
    BadVarSegment,          // the var segment has stored data or fewer than 4 bytes
    SegmentWithoutData,     // const, form or code without data
    StartOutsideCode,       // the start routine lies outside the code
    DllNameOutside,         // a DLL or function name does not end inside the constants
    RelocationOutsideCode,  // a relocation's 4 bytes lie outside the code
    UnknownRelocationKind,  // a relocation of a kind above 3
    RelocationValueOutside, // a relocation's value lies outside its base
    FixupGroupOutside,      // a fixup group runs past the image
    FixupOutsideCode,       // a fixup's 4 bytes lie outside the code
};
std::string_view Describe(Problem p);
using Finding = rt::Finding<Problem>;

// Where the parts of a valid image lie, as offsets from its first byte.
struct Layout {
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

struct DllName {
    std::string dll;
    std::string function;
};

class ImageView {
  public:
    const Layout &layout() const { return layout_; }
    std::span<const uint8_t> bytes() const { return bytes_; }
    // The DLL file and function names of the DLL command table, by command index.
    std::vector<DllName> DllNames() const;
    // Adds each relocation's base (service table, const data, var segment, code data, by kind) to the
    // 32-bit value at its offset in the code of `target`: these bytes, or a copy of their extent.
    void ApplyRelocations(uint8_t *target, const uint32_t bases[4]) const;

  private:
    friend struct Validation ValidateImage(std::span<const uint8_t> bytes);
    ImageView(std::span<const uint8_t> bytes, const Layout &layout) : bytes_(bytes), layout_(layout) {}
    std::span<const uint8_t> bytes_;
    Layout layout_;
};

struct Validation {
    std::optional<ImageView> image; // only when there is no finding
    std::vector<Finding> problems;
};

// Checks the image held in `bytes` and lists every problem it has.
Validation ValidateImage(std::span<const uint8_t> bytes);

} // namespace image
