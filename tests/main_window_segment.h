// The main window's form segment as the host test binaries use it, with the application's handlers
// (compiled for the host) bound where the image builder would put them. Needs no window toolkit.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/window/ui.h"
#include "formats/form/form.h"
#include "formats/io/io.h"
#include "product/main_window_form.h"

namespace rt::testing {

// The application's handlers by symbol, as the host test binaries bind them: the form's handler
// fields hold a handler's number in these tables instead of a code offset.
inline const std::vector<std::string> kHandlers = {"RtWindowHandler", "StartClicked",  "ClearClicked",
                                                   "PicturePressed",  "AboutSelected", "ExitSelected"};
inline const std::vector<void *> kRoutines = {
    reinterpret_cast<void *>(&RtWindowHandler), reinterpret_cast<void *>(&StartClicked),
    reinterpret_cast<void *>(&ClearClicked),    reinterpret_cast<void *>(&PicturePressed),
    reinterpret_cast<void *>(&AboutSelected),   reinterpret_cast<void *>(&ExitSelected)};

// The main window's description with the emblem files of the build.
inline form::Form MainWindowDescription() {
    auto bytes = [](const char *path) {
        auto b = rt::io::ReadFile(path, 1 << 20);
        return b ? std::vector<uint8_t>(b->begin(), b->end()) : std::vector<uint8_t>();
    };
    return product::MainWindow(bytes(EMBLEM_SMALL), bytes(EMBLEM_LARGE));
}

// Its form segment, each handler field holding the handler's number in kHandlers.
inline std::vector<uint8_t> MainWindowSegment() {
    form::Encoded encoded = form::EncodeForm(MainWindowDescription());
    for (const form::HandlerSite &site : encoded.handlerSites) {
        uint32_t index = uint32_t(std::find(kHandlers.begin(), kHandlers.end(), site.symbol) - kHandlers.begin());
        std::memcpy(encoded.bytes.data() + site.offset, &index, 4);
    }
    return encoded.bytes;
}

} // namespace rt::testing
