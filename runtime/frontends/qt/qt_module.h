// The Qt window as a module of its own, loaded only when a window is drawn, so that a report or a
// terminal window starts without mapping any Qt library. The runtime looks up this one function in
// it; the module takes everything else (the control model, the runtime) from the runtime library.
#pragma once

#include <memory>
#include <string>

#include "runtime/frontends/window_frontend.h"

namespace rt {

inline constexpr char kQtWindowEntryName[] = "RtMakeQtWindow";

// Makes the Qt window from the options: true with the window, false with why it could not be made.
// Nothing is thrown across it.
using QtWindowEntry = bool (*)(FrontEndOptions &options, std::unique_ptr<FrontEnd> &window,
                               std::string &failure) noexcept;

} // namespace rt
