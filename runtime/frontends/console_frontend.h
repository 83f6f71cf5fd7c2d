// The front end without a window, which the runtime's entry chooses until it has a window (or for a
// program that never shows one): messages and web addresses go to standard error, and every unit
// the program names gets a control, so that the program's routines run unchanged in tools and tests.
#pragma once

#include <memory>

#include "runtime/core/runtime.h"

namespace rt {

std::unique_ptr<FrontEnd> MakeConsoleFrontEnd();

} // namespace rt
