// Memory blocks handed to the image on Windows: texts, byte sets, arrays and records. Each is the
// system's own fixed global block of exactly the size asked for, since the image asks kernel32's
// GlobalSize (a DLL command) for the size of its records. A table of the live blocks tells a block
// of ours from a stray pointer, which GlobalSize could not.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

#include "runtime.h"

namespace rt {
namespace {

std::mutex g_blocksMutex;
std::unordered_set<const void *> g_blocks;

} // namespace

void *Runtime::Allocate(size_t size) {
    void *block = ::GlobalAlloc(GMEM_FIXED, size);
    if (!block) block = size == 0 ? ::GlobalAlloc(GMEM_FIXED, 1) : nullptr; // some systems refuse 0 bytes
    if (!block) {
        std::fputs("Runtime error: out of memory\n", stderr);
        std::_Exit(1);
    }
    std::lock_guard lock(g_blocksMutex);
    g_blocks.insert(block);
    return block;
}

void Runtime::Free(void *block) {
    if (!block) return;
    {
        std::lock_guard lock(g_blocksMutex);
        if (g_blocks.erase(block) == 0) return; // not ours, or freed before: left alone
    }
    ::GlobalFree(block);
}

size_t Runtime::BlockSize(const void *block) {
    std::lock_guard lock(g_blocksMutex);
    return g_blocks.count(block) ? size_t(::GlobalSize(const_cast<void *>(block))) : 0;
}

} // namespace rt
