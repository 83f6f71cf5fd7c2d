// Runs a shell command for a test and returns what it printed on standard output.
#pragma once

#include <cstdio>
#include <string>

namespace rt::testing {

inline std::string Shell(const std::string &command) {
    std::string out;
    if (FILE *p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        ::pclose(p);
    }
    return out;
}

} // namespace rt::testing
