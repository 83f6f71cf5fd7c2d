// The main window's description, as the program's source holds it.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/form/form.h"

namespace product {

// The main window with its emblem as the two icons (ICO files of 32 x 32 and 128 x 128 pixels).
// Texts are GBK, as the form segment stores them; handlers are named by their routines' symbols.
form::Form MainWindow(std::vector<uint8_t> smallIcon, std::vector<uint8_t> largeIcon);

// The result list's columns in the form's order, as the program's rows fill them.
enum ResultColumn : int32_t { kHopColumn, kAddressColumn, kPlaceColumn, kTimeColumn };

// The menu's unit identifiers (the program's code never names them).
inline constexpr uint32_t kMenuAbout = 0x26010003, kMenuAboutItem = 0x26010004, kMenuSeparator = 0x26010005,
                          kMenuExit = 0x26010006;

} // namespace product
