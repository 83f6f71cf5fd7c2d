// Any bytes as a program image: validation lists problems and never reads outside the bytes.
#include <cstdint>

#include "formats/image/image_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    image::Validation v = image::ValidateImage({data, size});
    if (v.image) {
        (void)v.image->DllNames();
        if (v.image->layout().extent > size) __builtin_trap(); // what an image holds lies inside it
    }
    return 0;
}
