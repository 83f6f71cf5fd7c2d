// Tells the runtime where this product's ICMP helper is: the file its build makes, looked for beside
// the program and then in the package's folder. Linked into the runtime library and into the direct
// host's programs (tests, tools, benchmarks), which have no start of the product's: both are told as
// they are loaded, before anything traces.
#include "runtime/platform/platform.h"

namespace product {
namespace {

const bool g_helperPlaced = [] {
    rt::platform::SetEchoHelperPlace({RT_ICMP_HELPER, RT_ICMP_HELPER_FOLDER});
    return true;
}();

} // namespace
} // namespace product
