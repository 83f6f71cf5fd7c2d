// Lays out the program image from the application's relocatable object.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "elf_object.h"
#include "formats/result.h"

namespace mkimage {

struct FormInput {
    std::vector<uint8_t> bytes; // the form segment's data
    // Places in the form that receive a handler's offset in the code segment's data.
    struct Handler {
        uint32_t offset;    // in the form data
        std::string symbol; // the handler routine
    };
    std::vector<Handler> handlers;
};

struct BuiltImage {
    std::vector<uint8_t> bytes;
    std::vector<std::string> map; // "segment offset symbol" lines, for people and tests
};

// What keeps an object from becoming an image; each finding names the symbol or section.
enum class BuildProblem {
    ThreadLocalData,        // thread-local data, which the image cannot hold
    StaticConstructors,     // static constructors or destructors
    UnwindTables,           // unwind tables (compile without them)
    WritableData,           // writable data outside the var segment's section
    NoConstTable,           // no .rtconst section (app/constants.S)
    NoStartRoutine,         // no start routine (RtStartRoutine)
    RelocationInData,       // a table of addresses in data, which cannot be placed (build it in code)
    RelocationPastSection,  // a relocation runs past its section
    UndefinedSymbol,        // a symbol that is neither defined, a service stub nor an identifier
    AbsoluteSymbol,         // a symbol that is absolute or common
    SymbolOutsideImage,     // a symbol in a section the image does not hold
    PcRelativeToVariable,   // a PC-relative reference to a variable (reach variables by absolute address)
    PcRelativeToIdentifier, // a PC-relative reference to an identifier
    OutOfRange,             // an absolute reference out of the 32-bit range
    UnsupportedRelocation,  // a relocation type the image has no kind for
    HandlerNotRoutine,      // a form handler that is not a routine of the image
};
std::string_view Describe(BuildProblem p);
using BuildFinding = rt::Finding<BuildProblem>;

// Builds the image, or lists every problem found.
rt::Result<BuiltImage, std::vector<BuildFinding>> BuildImage(const ElfObject &object, const FormInput &form);

} // namespace mkimage
