// Lays out the program image from the application's relocatable object.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "elf_object.h"

namespace mkimage {

struct FormInput {
    std::vector<uint8_t> bytes; // the form segment's data; a minimal one when empty
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

// Builds the image; on failure every problem found is listed, each naming the symbol or section.
std::optional<BuiltImage> BuildImage(const ElfObject &object, const FormInput &form, std::vector<std::string> &errors);

} // namespace mkimage
