// The window front end on Windows: native controls built from the form segment, through the
// wide-character calls (texts stay GBK in the model and are converted at the edge).
#pragma once

#include "runtime/frontends/window_frontend.h"

namespace rt {

using Win32FrontEndOptions = WindowFrontEndOptions;

class Win32FrontEnd : public InteractiveFrontEnd {
  public:
    // The calling thread becomes the window's thread; fails when the form segment is malformed.
    static FrontEndResult<Win32FrontEnd> Create(Win32FrontEndOptions options);
};

} // namespace rt
