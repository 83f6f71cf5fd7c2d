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

class TuiFrontEnd : public FormFrontEnd {
  public:
    // Takes over the terminal on the calling thread, which becomes the window's thread; fails when the
    // form segment is malformed or the terminal cannot be used.
    static FrontEndResult<TuiFrontEnd> Create(FrontEndOptions options);
    ~TuiFrontEnd() override;

  protected:
    using FormFrontEnd::FormFrontEnd;
};

} // namespace rt
