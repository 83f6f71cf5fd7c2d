// What the window front ends share: why one could not be made, what it is built from, and the
// decoded form they build their controls from.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "formats/form/form.h"
#include "formats/result.h"
#include "runtime/core/runtime.h"

namespace rt {

// Why a window front end could not be made.
enum class FrontEndError {
    InvalidForm, // the form segment is malformed (the detail lists its problems)
    NoTerminal,  // the terminal cannot be used
};
struct FrontEndFailure {
    FrontEndError code;
    std::string detail;
};
std::string Describe(const FrontEndFailure &f);
template <typename T> using FrontEndResult = Result<std::unique_ptr<T>, FrontEndFailure>;

// What a window front end is built from: the placed image's form and the routines its events call.
struct WindowFrontEndOptions {
    std::span<const uint8_t> form; // the form segment's data; must outlive the front end
    uint32_t codeSize = 0;         // handlers must lie below it
    // The address of the routine at an offset of the code segment's data.
    std::function<void *(uint32_t offset)> routineAt;
};

// The window's form, decoded and checked (handlers below codeSize).
Result<form::Form, FrontEndFailure> DecodeWindowForm(std::span<const uint8_t> bytes, uint32_t codeSize);

} // namespace rt
