// The Qt window, from the module this runtime library carries (qt_module.h): loaded at the first
// window, so that a start that draws none maps no Qt library.
#pragma once

#include <memory>
#include <string>

#include "formats/result.h"
#include "runtime/frontends/window_frontend.h"

namespace product {

rt::Result<std::unique_ptr<rt::FrontEnd>, std::string> MakeQtWindow(rt::FrontEndOptions options);

} // namespace product
