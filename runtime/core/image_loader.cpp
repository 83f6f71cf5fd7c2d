#include "image_loader.h"

#include <cstring>

#include "formats/image/image_format.h"
#include "formats/image/image_view.h"
#include "os.h"
#include "runtime.h"
#include "services.h"

namespace rt {
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
        service::BindDllCommand(uint32_t(i), fn, dlls[i].dll, dlls[i].function);
    }
    service::rt_dll_function_count = uint32_t(dlls.size());

    PreparedImage p;
    // The image runs in a copy below 2 GiB, where its 32-bit addresses reach. The copy is writable only
    // while it is fixed up; then it becomes read-only and executable, so no page is ever both.
    size_t mapped = (size_t(layout.extent) + 4095) / 4096 * 4096;
    auto *copy = static_cast<uint8_t *>(os::AllocateLow(mapped));
    if (!copy) return LoadFailure{LoadError::NoLowMemory, "program image"};
    std::memcpy(copy, image, layout.extent);

    // The service table: 13 four-byte slots. Where addresses are 32-bit a slot holds its service
    // function itself; on x86-64 it holds a trampoline below 2 GiB that jumps to the 64-bit function
    // with every register untouched (movabs r11, target; jmp r11).
    auto *page = static_cast<uint8_t *>(os::AllocateLow(4096));
    p.var = static_cast<uint8_t *>(os::AllocateLow((layout.varSize + 4095) / 4096 * 4096));
    if (!page || !p.var) return LoadFailure{LoadError::NoLowMemory, "service table"};
    p.serviceTable = reinterpret_cast<uint32_t *>(page);
    for (uint32_t i = 0; i < image::kSlotCount; ++i) {
        void *function = service::SlotFunction(i * 4);
#if defined(__x86_64__)
        constexpr size_t kTrampolines = 64, kTrampolineSize = 16;
        uint8_t *t = page + kTrampolines + i * kTrampolineSize;
        uint64_t target = reinterpret_cast<uint64_t>(function);
        const uint8_t code[] = {0x49, 0xBB};
        std::memcpy(t, code, 2);
        std::memcpy(t + 2, &target, 8);
        const uint8_t jump[] = {0x41, 0xFF, 0xE3};
        std::memcpy(t + 10, jump, 3);
        function = t;
#endif
        p.serviceTable[i] = uint32_t(reinterpret_cast<uintptr_t>(function));
    }
    os::MakeExecutable(page, 4096);

    uint8_t *code = copy + layout.codeData;
    const uint32_t bases[4] = {
        uint32_t(reinterpret_cast<uintptr_t>(page)), uint32_t(reinterpret_cast<uintptr_t>(copy + layout.constData)),
        uint32_t(reinterpret_cast<uintptr_t>(p.var)), uint32_t(reinterpret_cast<uintptr_t>(code))};
    view.ApplyRelocations(copy, bases);
    if (!os::MakeExecutable(copy, mapped)) return LoadFailure{LoadError::NoLowMemory, "program image"};
    p.code = code;
    p.codeSize = layout.codeSize;
    p.form = copy + layout.formData;
    p.formSize = layout.formSize;
    p.start = reinterpret_cast<void (*)()>(code + layout.startRoutine);
    return p;
}

} // namespace rt
