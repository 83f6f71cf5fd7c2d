// Helpers for tests that run application code through the direct host.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "app/support.h"
#include "runtime/core/files.h"
#include "runtime/core/runtime.h"

namespace rt::testing {

// Owns a runtime text or block returned to the caller, and frees it.
class Owned {
  public:
    explicit Owned(void *block) : block_(block) {}
    Owned(const Owned &) = delete;
    ~Owned() { FreeBlock(block_); }
    const char *text() const { return static_cast<const char *>(block_); }
    std::string str() const { return text() ? std::string(text()) : std::string(); }
    void *get() const { return block_; }

  private:
    void *block_;
};

inline std::string TakeText(RtResult r) {
    Owned o(reinterpret_cast<void *>(static_cast<uintptr_t>(r.value)));
    return o.str();
}

inline std::string TakeBytes(RtResult r) {
    Owned o(reinterpret_cast<void *>(static_cast<uintptr_t>(r.value)));
    ArrayElements e = ArrayElementCount(o.get());
    return std::string(static_cast<const char *>(e.first), e.count);
}

inline std::vector<std::string> TakeTextArray(RtResult r) {
    Array a = reinterpret_cast<Array>(static_cast<uintptr_t>(r.value));
    ArrayElements e = ArrayElementCount(a);
    std::vector<std::string> out;
    for (uint32_t i = 0; i < e.count; ++i) out.emplace_back(static_cast<Text *>(e.first)[i]);
    FreeTextArray(a);
    return out;
}

// A byte set built by the test, in the runtime's layout.
inline ByteSet MakeBytes(std::string_view bytes) {
    return ResultBytes(rt::ResultOfBytes({reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()}));
}

// Matches the message of a runtime error of that kind.
inline std::string ErrorPattern(int kind) { return "Runtime error " + std::to_string(kind) + ":"; }

} // namespace rt::testing
