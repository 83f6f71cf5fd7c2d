// The window front end on Windows: native controls built from the form segment, through the
// wide-character calls (texts stay GBK in the model and are converted at the edge).
#pragma once

#include "runtime/frontends/window_frontend.h"

namespace rt {

class Win32FrontEnd : public FormFrontEnd {
  public:
    // The calling thread becomes the window's thread; fails when the form segment is malformed.
    static FrontEndResult<Win32FrontEnd> Create(FrontEndOptions options);

    // For tests: the native window (HWND) of the main window (by the window's identifier) or of a
    // control (by its unit identifier); null before the window is shown or for an unknown unit.
    virtual void *Native(uint32_t unit) const = 0;

  protected:
    using FormFrontEnd::FormFrontEnd;
};

} // namespace rt
