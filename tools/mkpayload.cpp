// mkpayload -o OUT --id ID [--folder NAME] [--key KEY] FILE...
// Writes a payload (scrambled block and trailer) carrying the files under their base names, ready
// to be appended to the launcher. ID and KEY are decimal or 0x-prefixed hexadecimal.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "formats/payload/payload.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: mkpayload -o OUT --id ID [--folder NAME] [--key KEY] FILE...\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    std::string out, folder;
    uint32_t id = 0, key = 0x5A3C96E1;
    bool haveId = false;
    std::vector<payload::PayloadFile> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "-o" && hasValue) out = argv[++i];
        else if (a == "--id" && hasValue) id = uint32_t(std::strtoul(argv[++i], nullptr, 0)), haveId = true;
        else if (a == "--key" && hasValue) key = uint32_t(std::strtoul(argv[++i], nullptr, 0));
        else if (a == "--folder" && hasValue) folder = argv[++i];
        else if (!a.empty() && a[0] == '-') return Usage();
        else {
            std::ifstream in(a, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "mkpayload: cannot read %s\n", a.c_str());
                return 1;
            }
            size_t slash = a.rfind('/');
            std::string name = slash == std::string::npos ? a : a.substr(slash + 1);
            files.push_back({name, std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})});
        }
    }
    if (out.empty() || !haveId || files.empty()) return Usage();
    if (!folder.empty() && !payload::IsSafeName(folder)) {
        std::fprintf(stderr, "mkpayload: the folder name must be a single path component\n");
        return 1;
    }
    std::vector<uint8_t> bytes = payload::BuildPayload(files, id, folder, key);
    std::ofstream o(out, std::ios::binary | std::ios::trunc);
    o.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!o) {
        std::fprintf(stderr, "mkpayload: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
