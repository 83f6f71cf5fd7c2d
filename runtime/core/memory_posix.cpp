// Memory blocks handed to the image: texts, byte sets, arrays and records. Each starts with a header
// that GlobalSize reads and that tells a block of ours from a stray pointer.
#include <cstdio>
#include <cstdlib>

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

// The free small blocks of this thread, chained through their own first word. Plain data, so that
// reaching it costs no check for a constructor having run (it is reached twice per command).
struct SmallBlockCache {
    struct Free {
        Free *next;
    };
    Free *head;
    size_t count;

    void *take() {
        Free *b = head;
        head = b->next;
        --count;
        return b;
    }
    void keep(void *block);
};
constinit thread_local SmallBlockCache t_cache{};

// Gives a thread's cached blocks back to the C library when the thread ends (a trace thread ends
// after every trace). Set up by the first block the thread keeps.
struct ReleaseAtThreadEnd {
    ~ReleaseAtThreadEnd() {
        while (t_cache.head) std::free(t_cache.take());
    }
};
thread_local ReleaseAtThreadEnd t_release;

void SmallBlockCache::keep(void *block) {
    auto *b = static_cast<Free *>(block);
    b->next = head;
    head = b;
    ++count;
}
// The first block a thread keeps also sets up the release at its end. Out of line, so that keeping
// any later block stays a few instructions.
[[gnu::noinline]] void KeepFirstBlock(void *block) {
    [[maybe_unused]] ReleaseAtThreadEnd &armed = t_release; // the first use registers its destructor
    t_cache.keep(block);
}
} // namespace

void *Runtime::Allocate(size_t size) {
    BlockHeader *h;
    if (kCacheSmallBlocks && size <= kSmallPayload && t_cache.head) {
        h = static_cast<BlockHeader *>(t_cache.take());
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
    if (h->magic != kBlockMagic) return; // not ours, or freed before: left alone
    h->magic = 0;
    if (kCacheSmallBlocks && h->size <= kSmallPayload && t_cache.count < kCacheLimit) {
        if (t_cache.count == 0) return KeepFirstBlock(h);
        t_cache.keep(h);
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
