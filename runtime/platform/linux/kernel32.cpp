// kernel32: memory copies, block sizes, text length and copy.
#include <cstring>

#include "runtime/core/runtime.h"
#include "win32_api.h"

namespace rt::win32 {

void RtlMoveMemory(uintptr_t destination, uintptr_t source, uint32_t length) {
    if (length == 0) return;
    std::memmove(reinterpret_cast<void *>(destination), reinterpret_cast<const void *>(source), length);
}

uint32_t GlobalSize(const void *block) { return uint32_t(Runtime::BlockSize(block)); }

int32_t lstrlenA(uintptr_t text) {
    // Windows answers 0 for a null pointer rather than faulting.
    return text ? int32_t(std::strlen(reinterpret_cast<const char *>(text))) : 0;
}

uintptr_t lstrcpyA(char *destination, uintptr_t source) {
    if (!destination || !source) return 0;
    std::strcpy(destination, reinterpret_cast<const char *>(source));
    return reinterpret_cast<uintptr_t>(destination);
}

} // namespace rt::win32
