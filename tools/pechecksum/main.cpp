// pe-checksum FILE...          writes each PE file's header checksum (after the payload is appended)
// pe-checksum --check FILE...  prints the stored and the computed checksum; exit 1 when one differs
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pe_checksum.h"

namespace {

bool Read(const char *path, std::vector<uint8_t> &bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The four bytes of the field, rewritten in place: nothing else in the file changes.
bool Write(const char *path, size_t offset, uint32_t value) {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    if (!out) return false;
    const char bytes[4] = {char(value & 0xFF), char(value >> 8 & 0xFF), char(value >> 16 & 0xFF), char(value >> 24)};
    out.seekp(std::streamoff(offset));
    out.write(bytes, 4);
    out.flush();
    return bool(out);
}

} // namespace

int main(int argc, char **argv) {
    int first = 1;
    bool check = argc > 1 && std::strcmp(argv[1], "--check") == 0;
    if (check) ++first;
    if (first >= argc) {
        std::fprintf(stderr, "usage: pe-checksum [--check] FILE...\n");
        return 2;
    }
    int status = 0;
    for (int i = first; i < argc; ++i) {
        std::vector<uint8_t> bytes;
        if (!Read(argv[i], bytes)) {
            std::fprintf(stderr, "pe-checksum: cannot read %s\n", argv[i]);
            return 2;
        }
        auto found = pe::FindChecksum(bytes);
        if (auto *error = std::get_if<pe::ChecksumError>(&found)) {
            std::fprintf(stderr, "pe-checksum: %s: %s\n", argv[i], pe::Describe(*error).c_str());
            return 2;
        }
        auto field = std::get<pe::ChecksumField>(found);
        uint32_t sum = pe::Compute(bytes, field.offset);
        if (check) {
            std::printf("%s: stored 0x%08X, computed 0x%08X\n", argv[i], field.stored, sum);
            if (sum != field.stored) status = 1;
        } else if (!Write(argv[i], field.offset, sum)) {
            std::fprintf(stderr, "pe-checksum: cannot write %s\n", argv[i]);
            return 2;
        }
    }
    return status;
}
