// mkconstants TABLE ASSEMBLY HEADER: turns the const segment's table (UTF-8) into the GBK assembly
// and the header that declares its constants. A table that does not hold together (an offset that
// is not where the constant falls, a text GBK cannot hold, a name twice) is refused: nothing is
// written and the exit code is 1.
#include "constants_table.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

bool Write(const char *path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) std::cerr << "mkconstants: cannot write " << path << "\n";
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::cerr << "usage: mkconstants TABLE ASSEMBLY HEADER\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        std::cerr << "mkconstants: cannot read " << argv[1] << "\n";
        return 1;
    }
    auto parsed = rt::constants::ParseTable(text.str());
    if (!parsed.error.empty()) {
        std::cerr << argv[1] << ": " << parsed.error << "\n";
        return 1;
    }
    const char *name = "app/constants.table";
    if (!Write(argv[2], rt::constants::AssemblySource(parsed.table, name))) return 1;
    if (!Write(argv[3], rt::constants::HeaderSource(parsed.table, name))) return 1;
    return 0;
}
