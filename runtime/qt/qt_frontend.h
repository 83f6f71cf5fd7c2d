// The window front end: Qt 6 Widgets, built from the form segment.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "../runtime.h"

class QWidget;
class QMainWindow;

namespace rt {

struct QtFrontEndOptions {
    std::span<const uint8_t> form; // the form segment's data; must outlive the front end
    uint32_t codeSize = 0;         // handlers must lie below it
    // The address of the routine at an offset of the code segment's data.
    std::function<void *(uint32_t offset)> routineAt;
};

class QtFrontEnd : public InteractiveFrontEnd {
  public:
    // Creates the application object on the calling thread, which becomes the window's thread.
    // Nothing when the form segment is malformed: `error` then lists its problems.
    static std::unique_ptr<QtFrontEnd> Create(QtFrontEndOptions options, std::string &error);
    ~QtFrontEnd() override;

    // For tests: the main window and a control by its unit identifier.
    virtual QMainWindow *mainWindow() const = 0;
    virtual QWidget *control(uint32_t unit) const = 0;
};

} // namespace rt
