// The window in a terminal (ncursesw, UTF-8), built from the same form segment as the Qt window,
// for machines without a graphical display.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "runtime/frontends/window_frontend.h"

namespace rt {

struct TuiFrontEndOptions {
    std::span<const uint8_t> form; // the form segment's data; must outlive the front end
    uint32_t codeSize = 0;
    std::function<void *(uint32_t offset)> routineAt;
    int inputFd = 0; // the terminal
    int outputFd = 1;
    std::string pictureLabel = "(*)"; // what stands for a picture, which a terminal cannot show (UTF-8)
};

class TuiFrontEnd : public InteractiveFrontEnd {
  public:
    // Takes over the terminal on the calling thread, which becomes the window's thread; fails when the
    // form segment is malformed or the terminal cannot be used.
    static FrontEndResult<TuiFrontEnd> Create(TuiFrontEndOptions options);
    ~TuiFrontEnd() override;
};

} // namespace rt
