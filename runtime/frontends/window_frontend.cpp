#include "window_frontend.h"

namespace rt {

std::string Describe(const FrontEndFailure &f) {
    switch (f.code) {
    case FrontEndError::InvalidForm: return "The window description is invalid:" + f.detail;
    case FrontEndError::NoTerminal: return "The terminal cannot be used";
    }
    return "The window cannot be shown";
}

Result<form::Form, FrontEndFailure> DecodeWindowForm(std::span<const uint8_t> bytes, uint32_t codeSize) {
    form::Decoded decoded = form::DecodeForm(bytes, codeSize);
    if (!decoded.form) return FrontEndFailure{FrontEndError::InvalidForm, DescribeFindings("", decoded.problems)};
    return std::move(*decoded.form);
}

} // namespace rt
