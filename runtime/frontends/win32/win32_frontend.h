// The window front end on Windows: native controls built from the form segment, through the
// wide-character calls (texts stay GBK in the model and are converted at the edge).
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "runtime/frontends/control_model.h"

namespace rt {

struct Win32FrontEndOptions {
    std::span<const uint8_t> form; // the form segment's data; must outlive the front end
    uint32_t codeSize = 0;         // handlers must lie below it
    // The address of the routine at an offset of the code segment's data.
    std::function<void *(uint32_t offset)> routineAt;
};

class Win32FrontEnd : public ModelFrontEnd {
  public:
    // The calling thread becomes the window's thread; fails when the form segment is malformed.
    static FrontEndResult<Win32FrontEnd> Create(Win32FrontEndOptions options);
};

} // namespace rt
