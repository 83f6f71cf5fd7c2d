// ipdb-lookup [--db PATH] [ADDRESS...]
// Prints "ADDRESS<TAB>PLACE" per address, the place converted from GBK to UTF-8; reads addresses one
// per line from standard input when none are given. It runs the program's own lookup routines through
// the runtime; without --db it uses the program's default path, QQWry.dat in the current folder.
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/support.h"
#include "app/ipdb/ipdb.h"
#include "runtime/core/runtime.h"

namespace {

// A crafted database could hold escape sequences: a terminal is shown none.
const bool kToTerminal = ::isatty(1);

void Write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void PrintPlace(const std::string &address, const char *database) {
    Text place = LookupLocation(address.c_str(), database);
    std::string shown = rt::GbkToUtf8(place);
    if (kToTerminal) {
        shown = rt::ReplaceControls(shown);
        Write(rt::ReplaceControls(address));
    } else {
        Write(address);
    }
    std::putchar('\t');
    Write(shown);
    std::putchar('\n');
    FreeBlock(place);
}

} // namespace

int main(int argc, char **argv) {
    std::ios::sync_with_stdio(false); // input read in blocks; in_avail says what is left of them
    if (!kToTerminal) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    const char *database = nullptr;
    std::vector<std::string> addresses;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--db") == 0 && i + 1 < argc) database = argv[++i];
        else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::puts("usage: ipdb-lookup [--db PATH] [ADDRESS...]");
            return 0;
        } else addresses.push_back(argv[i]);
    }
    if (addresses.empty()) {
        std::string line;
        for (;;) {
            // Answers go out before the next wait for input (a program feeding it line by line gets
            // each answer at once), and are written in batches while input keeps coming.
            if (std::cin.rdbuf()->in_avail() <= 0) {
                pollfd in{0, POLLIN, 0};
                if (::poll(&in, 1, 0) == 0) std::fflush(stdout);
            }
            if (!std::getline(std::cin, line)) break;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            PrintPlace(line, database);
        }
    }
    for (const std::string &a : addresses) PrintPlace(a, database);
    return 0;
}
