// The window front end: Qt 6 Widgets, built from the form segment.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "runtime/frontends/window_frontend.h"

class QWidget;
class QMainWindow;

namespace rt {

class QtFrontEnd : public FormFrontEnd {
  public:
    // Creates the application object on the calling thread, which becomes the window's thread; fails
    // when the form segment is malformed.
    static FrontEndResult<QtFrontEnd> Create(FrontEndOptions options);
    ~QtFrontEnd() override;

    // For tests: the main window and a control by its unit identifier.
    virtual QMainWindow *mainWindow() const = 0;
    virtual QWidget *control(uint32_t unit) const = 0;

  protected:
    using FormFrontEnd::FormFrontEnd;
};

} // namespace rt
