// Any bytes as a whole location database: each lookup must end with a text, without fault.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "app/support.h"
#include "app/ipdb/ipdb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The database lives in a memory file, opened by path like a real one.
    static int fd = ::memfd_create("qqwry", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size)) return 0;
    for (const char *address : {"0.0.0.0", "1.2.3.4", "127.255.255.255", "128.0.0.0", "255.255.255.255"}) {
        Text place = LookupLocation(address, path.c_str());
        if (!place) __builtin_trap();
        FreeBlock(place);
    }
    return 0;
}
