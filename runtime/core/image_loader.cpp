#include "image_loader.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "formats/image/image_format.h"
#include "formats/image/image_view.h"
#include "runtime.h"
#include "services.h"

namespace rt {
namespace {

void *MapLow(size_t size, int protection) {
    void *p = ::mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

} // namespace

MappingInfo FindMapping(const void *address) {
    MappingInfo info;
    uintptr_t a = reinterpret_cast<uintptr_t>(address);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long long start = 0, end = 0;
        char perms[8] = {};
        if (std::sscanf(line.c_str(), "%llx-%llx %7s", &start, &end, perms) != 3) continue;
        if (a < start || a >= end) continue;
        info.available = size_t(end - a);
        info.writable = perms[1] == 'w';
        info.executable = perms[2] == 'x';
        // A section may continue in the next mapping when permissions change; the image does not.
        break;
    }
    return info;
}

std::string Describe(const LoadFailure &f) {
    switch (f.code) {
    case LoadError::InvalidImage: return "The program image is invalid:" + f.detail;
    case LoadError::MissingDllFunction: return "The program image calls " + f.detail + ", which this system lacks";
    case LoadError::NoLowMemory: return "No memory below 2 GiB for the " + f.detail;
    }
    return "The program image cannot be loaded";
}

Result<PreparedImage, LoadFailure> PrepareImage(const uint8_t *image, size_t size, DllResolver resolve) {
    image::Validation validation = image::ValidateImage({image, size});
    if (!validation.image) return LoadFailure{LoadError::InvalidImage, DescribeFindings("", validation.problems)};
    const image::ImageView &view = *validation.image;
    const image::Layout &layout = view.layout();
    std::vector<image::DllName> dlls = view.DllNames();
    for (size_t i = 0; i < dlls.size(); ++i) {
        void *fn = resolve(dlls[i].dll, dlls[i].function);
        if (!fn) return LoadFailure{LoadError::MissingDllFunction, dlls[i].function + " in " + dlls[i].dll};
        service::rt_dll_functions[i] = fn;
    }
    service::rt_dll_function_count = uint32_t(dlls.size());

    PreparedImage p;
    // The image runs in a copy below 2 GiB, where its 32-bit addresses reach. The copy is writable only
    // while it is fixed up; then it becomes read-only and executable, so no page is ever both.
    size_t mapped = (size_t(layout.extent) + 4095) / 4096 * 4096;
    auto *copy = static_cast<uint8_t *>(MapLow(mapped, PROT_READ | PROT_WRITE));
    if (!copy) return LoadFailure{LoadError::NoLowMemory, "program image"};
    std::memcpy(copy, image, layout.extent);

    // The service table: 13 four-byte slots, each holding the address of a trampoline that jumps to
    // the 64-bit service function with every register untouched (movabs r11, target; jmp r11).
    constexpr size_t kTrampolines = 64, kTrampolineSize = 16;
    auto *page = static_cast<uint8_t *>(MapLow(4096, PROT_READ | PROT_WRITE));
    p.var = static_cast<uint8_t *>(MapLow((layout.varSize + 4095) / 4096 * 4096, PROT_READ | PROT_WRITE));
    if (!page || !p.var) return LoadFailure{LoadError::NoLowMemory, "service table"};
    p.serviceTable = reinterpret_cast<uint32_t *>(page);
    for (uint32_t i = 0; i < image::kSlotCount; ++i) {
        uint8_t *t = page + kTrampolines + i * kTrampolineSize;
        uint64_t target = reinterpret_cast<uint64_t>(service::SlotFunction(i * 4));
        const uint8_t code[] = {0x49, 0xBB};
        std::memcpy(t, code, 2);
        std::memcpy(t + 2, &target, 8);
        const uint8_t jump[] = {0x41, 0xFF, 0xE3};
        std::memcpy(t + 10, jump, 3);
        p.serviceTable[i] = uint32_t(reinterpret_cast<uintptr_t>(t));
    }
    ::mprotect(page, 4096, PROT_READ | PROT_EXEC);

    uint8_t *code = copy + layout.codeData;
    const uint32_t bases[4] = {uint32_t(reinterpret_cast<uintptr_t>(page)),
                               uint32_t(reinterpret_cast<uintptr_t>(copy + layout.constData)),
                               uint32_t(reinterpret_cast<uintptr_t>(p.var)), uint32_t(reinterpret_cast<uintptr_t>(code))};
    view.ApplyRelocations(copy, bases);
    if (::mprotect(copy, mapped, PROT_READ | PROT_EXEC) != 0) return LoadFailure{LoadError::NoLowMemory, "program image"};
    p.code = code;
    p.codeSize = layout.codeSize;
    p.form = copy + layout.formData;
    p.formSize = layout.formSize;
    p.start = reinterpret_cast<void (*)()>(code + layout.startRoutine);
    return p;
}

} // namespace rt
