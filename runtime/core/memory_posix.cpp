// Memory blocks handed to the image: texts, byte sets, arrays and records. Each starts with a header
// that GlobalSize reads and that tells a block of ours from a stray pointer.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "runtime.h"

namespace rt {

namespace {

struct BlockHeader {
    uint64_t size;
    uint64_t magic;
};
constexpr uint64_t kBlockMagic = 0x6b636f6c42747452ull; // "RttBlock"
static_assert(sizeof(BlockHeader) == 16, "blocks stay 16-byte aligned");

} // namespace

// Small blocks (most texts and byte sets are a few bytes) come from a per-thread cache: a lookup
// holds more of them at once than the C library's own per-thread cache keeps, and the slow path of
// malloc would then cost a fifth of its time.
namespace {
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCacheSmallBlocks = false; // AddressSanitizer must see every free
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kCacheSmallBlocks = false;
#else
constexpr bool kCacheSmallBlocks = true;
#endif
#else
constexpr bool kCacheSmallBlocks = true;
#endif
constexpr size_t kSmallPayload = 48;
constexpr size_t kSmallBlock = sizeof(BlockHeader) + kSmallPayload;
constexpr size_t kCacheLimit = 256;

struct SmallBlockCache {
    std::vector<void *> blocks;
    ~SmallBlockCache() {
        for (void *b : blocks) std::free(b);
    }
};
thread_local SmallBlockCache t_cache;
} // namespace

void *Runtime::Allocate(size_t size) {
    BlockHeader *h;
    if (kCacheSmallBlocks && size <= kSmallPayload && !t_cache.blocks.empty()) {
        h = static_cast<BlockHeader *>(t_cache.blocks.back());
        t_cache.blocks.pop_back();
    } else {
        h = static_cast<BlockHeader *>(std::malloc(size <= kSmallPayload ? kSmallBlock : sizeof(BlockHeader) + size));
        if (!h) {
            std::fputs("Runtime error: out of memory\n", stderr);
            std::_Exit(1);
        }
    }
    h->size = size;
    h->magic = kBlockMagic;
    return h + 1;
}

void Runtime::Free(void *block) {
    if (!block) return; // the image never passes null, but a null is harmless
    auto *h = static_cast<BlockHeader *>(block) - 1;
    h->magic = 0; // a second free of the same block is then seen as foreign, not freed twice
    if (kCacheSmallBlocks && h->size <= kSmallPayload && t_cache.blocks.size() < kCacheLimit) {
        t_cache.blocks.push_back(h);
        return;
    }
    std::free(h);
}

size_t Runtime::BlockSize(const void *block) {
    if (!block || reinterpret_cast<uintptr_t>(block) % alignof(BlockHeader) != 0) return 0;
    auto *h = static_cast<const BlockHeader *>(block) - 1;
    return h->magic == kBlockMagic ? size_t(h->size) : 0;
}

} // namespace rt
