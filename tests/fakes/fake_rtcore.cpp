// Stand-ins for the core runtime library, packed by the tests in place of the real one.
// FAKE_RTCORE_REPORT names a file where the entry writes what it was given.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "contract/abi.h"

namespace {

[[maybe_unused]] int32_t RT_STDCALL Entry(const void *image) {
    const char *report = std::getenv("FAKE_RTCORE_REPORT");
    if (!report) return 0;
    FILE *f = std::fopen(report, "w");
    if (!f) return 0;
    uint32_t dllCount = 0, field34 = 0;
    if (image) {
        std::memcpy(&dllCount, static_cast<const uint8_t *>(image) + 0x38, 4);
        std::memcpy(&field34, static_cast<const uint8_t *>(image) + 0x34, 4);
    }
    std::fprintf(f, "image=%p dll_count=%u field34=0x%X\n", image, dllCount, field34);
    std::fclose(f);
    return 0;
}

} // namespace

#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

FAKE_EXPORT void *RT_STDCALL GetNewSock(uint32_t version) {
#if defined(FAKE_NULL_ENTRY)
    (void)version;
    return nullptr;
#else
    return version == RtInterfaceVersion ? reinterpret_cast<void *>(&Entry) : nullptr;
#endif
}
