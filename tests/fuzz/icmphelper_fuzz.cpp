// Any bytes as a record the ICMP helper reads from the program (and, the other way, a response the
// program reads from the helper). What is taken must be within the helper's limits (the type of
// service 0 among them), and must come back as the same bytes when written again.
#include <cstdint>
#include <cstring>

#include "formats/packet/echo_service.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    namespace w = rt::icmp;
    std::span<const uint8_t> bytes(data, size);
    if (auto r = w::DecodeEchoRequest(bytes)) {
        if (w::IsForbiddenEchoDestination(r->destination) || r->ttl == 0 || r->timeoutMs == 0 ||
            r->timeoutMs > w::kEchoServiceMaxTimeoutMs || r->dataSize > w::kEchoServiceMaxData || r->tos != 0)
            __builtin_trap();
        uint8_t again[w::kEchoRequestRecordSize];
        w::EncodeEchoRequest(*r, again);
        if (size != sizeof again || std::memcmp(again, data, size) != 0) __builtin_trap();
    }
    if (auto a = w::DecodeEchoResponse(bytes)) {
        uint8_t again[w::kEchoResponseRecordSize];
        w::EncodeEchoResponse(*a, again);
        if (size != sizeof again || std::memcmp(again, data, size) != 0) __builtin_trap();
    }
    return 0;
}
