// Any bytes as a form segment, and any bytes as an icon: decoded or refused, never read outside.
#include <cstdint>

#include "formats/form/form.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    auto decoded = form::DecodeForm(bytes, 0x10000);
    if (decoded.form) {
        for (const auto &c : decoded.form->controls) (void)form::DecodeIco(c.icon);
        (void)form::DecodeIco(decoded.form->window.icon);
    }
    (void)form::DecodeIco(bytes);
    return 0;
}
