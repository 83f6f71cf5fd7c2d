// Encodes a form description into the form segment's bytes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "form_model.h"

namespace form {

struct EncodedForm {
    std::vector<uint8_t> bytes;
    // Where the handler offsets go: offset in the bytes, and the routine's symbol.
    std::vector<std::pair<uint32_t, std::string>> handlerSites;
};

// Texts are converted from UTF-8 to GBK and icons read from their files; a text that has no GBK
// form or an icon that cannot be read is an error.
std::optional<EncodedForm> Encode(const Form &form, std::string &error);

} // namespace form
