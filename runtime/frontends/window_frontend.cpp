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

FormFrontEnd::FormFrontEnd(form::Form form, std::function<void *(uint32_t offset)> routineAt)
    : form_(std::move(form)), routineAt_(std::move(routineAt)) {
    for (const form::Control &c : form_.controls) controls().Add(c.id, c.type, int(c.columns.size()));
}

void FormFrontEnd::Call(std::optional<uint32_t> handler) const {
    if (!handler) return;
    if (void *routine = routineAt_(*handler)) reinterpret_cast<void (*)()>(routine)();
}

void FormFrontEnd::CallPressed(std::optional<uint32_t> handler, int32_t button, int32_t x, int32_t y) const {
    if (!handler) return;
    if (void *routine = routineAt_(*handler))
        reinterpret_cast<void (*)(int32_t, int32_t, int32_t)>(routine)(button, x, y);
}

} // namespace rt
