// The window front end on Windows: native controls built from the form segment, through the
// wide-character calls (texts stay GBK in the model and are converted at the edge).
#pragma once

#include "runtime/frontends/window_frontend.h"

namespace rt {

class Win32FrontEnd : public FormFrontEnd {
  public:
    // The calling thread becomes the window's thread; fails when the form segment is malformed.
    static FrontEndResult<Win32FrontEnd> Create(FrontEndOptions options);

  protected:
    using FormFrontEnd::FormFrontEnd;
};

} // namespace rt
