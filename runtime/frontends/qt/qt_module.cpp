// The Qt window module's entry (qt_module.h).
#include "qt_module.h"

#include <exception>
#include <type_traits>

#include "qt_frontend.h"

extern "C" __attribute__((visibility("default"))) bool
RtMakeQtWindow(rt::FrontEndOptions &options, std::unique_ptr<rt::FrontEnd> &window, std::string &failure) noexcept {
    try {
        auto made = rt::QtFrontEnd::Create(std::move(options));
        if (!made) {
            failure = Describe(made.error());
            return false;
        }
        window = std::move(*made);
        return true;
    } catch (const std::exception &e) {
        failure = e.what();
        return false;
    }
}

static_assert(std::is_same_v<decltype(&RtMakeQtWindow), rt::QtWindowEntry>);
