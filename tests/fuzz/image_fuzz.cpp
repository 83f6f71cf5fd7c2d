// Any bytes as a program image: validation lists problems and never reads outside the bytes.
#include <cstdint>

#include "runtime/core/image_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    rt::ImageLayout layout;
    std::span<const uint8_t> bytes(data, size);
    if (rt::ValidateImage(bytes, layout).empty()) {
        (void)rt::ImageDllNames(bytes, layout);
        if (layout.extent > size) __builtin_trap(); // what an image holds lies inside it
    }
    return 0;
}
