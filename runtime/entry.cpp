// The core runtime library's two entry points: GetNewSock, which the launcher looks up, and the
// RuntimeEntry it returns, which takes the program image and runs the program.
#include <cstdint>
#include <cstdio>

#include "image_loader.h"
#include "runtime.h"

namespace {

constexpr uint32_t kInterfaceVersion = 1000;

} // namespace

extern "C" __attribute__((visibility("default"))) int32_t RuntimeEntry(const void *image) {
    rt::Runtime &runtime = rt::Runtime::Instance();
    rt::MappingInfo where = rt::FindMapping(image);
    rt::PreparedImage prepared = rt::PrepareImage(const_cast<uint8_t *>(static_cast<const uint8_t *>(image)),
                                                  where.available);
    if (!prepared.start) {
        std::fprintf(stderr, "%s\n", prepared.error.c_str());
        runtime.frontEnd().ShowMessage(rt::Utf8ToGbk(prepared.error), 0, std::string_view("Error"));
        return 1;
    }
    prepared.start(); // the start routine ends the program through slot 0x24
    return 0;
}

extern "C" __attribute__((visibility("default"))) void *GetNewSock(uint32_t version) {
    return version == kInterfaceVersion ? reinterpret_cast<void *>(&RuntimeEntry) : nullptr;
}
