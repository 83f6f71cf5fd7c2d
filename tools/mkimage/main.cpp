// mkimage OBJECT -o IMAGE --form FORM [--handlers HANDLERS] [--map MAP]
// Builds the program image from the application's relocatable object. HANDLERS lists, one per line,
// "OFFSET SYMBOL": the form data offset that receives that routine's offset in the code segment.
// Anything that cannot be placed is refused, naming the symbol.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "image_builder.h"

namespace {

std::optional<std::vector<uint8_t>> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int Usage() {
    std::fprintf(stderr, "usage: mkimage OBJECT -o IMAGE --form FORM [--handlers HANDLERS] [--map MAP]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    std::string input, output, formPath, handlersPath, mapPath;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool v = i + 1 < argc;
        if (a == "-o" && v) output = argv[++i];
        else if (a == "--form" && v) formPath = argv[++i];
        else if (a == "--handlers" && v) handlersPath = argv[++i];
        else if (a == "--map" && v) mapPath = argv[++i];
        else if (!a.empty() && a[0] != '-' && input.empty()) input = a;
        else return Usage();
    }
    if (input.empty() || output.empty() || formPath.empty()) return Usage();

    auto object = ReadFile(input);
    if (!object) {
        std::fprintf(stderr, "mkimage: cannot read %s\n", input.c_str());
        return 1;
    }
    auto elf = mkimage::ParseElfObject(*object);
    if (!elf) {
        std::fprintf(stderr, "mkimage: %s: %s\n", input.c_str(), rt::DescribeFinding(elf.error()).c_str());
        return 1;
    }
    mkimage::FormInput form;
    auto bytes = ReadFile(formPath);
    if (!bytes) {
        std::fprintf(stderr, "mkimage: cannot read %s\n", formPath.c_str());
        return 1;
    }
    form.bytes = *bytes;
    if (!handlersPath.empty()) {
        std::ifstream in(handlersPath);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string offset, symbol;
            if (!(words >> offset >> symbol)) continue;
            form.handlers.push_back({uint32_t(std::strtoul(offset.c_str(), nullptr, 0)), symbol});
        }
    }
    auto built = mkimage::BuildImage(*elf, form);
    if (!built) {
        std::fprintf(stderr, "%s\n",
                     rt::DescribeFindings("mkimage: the object cannot become an image:", built.error()).c_str());
        return 1;
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(built->bytes.data()), std::streamsize(built->bytes.size()));
    if (!mapPath.empty()) {
        std::ofstream map(mapPath);
        for (const std::string &line : built->map) map << line << "\n";
    }
    return out ? 0 : 1;
}
