// How many of a process's descriptors are raw sockets: those whose inode its network namespace's
// /proc/net/raw lists. PROC is the process's /proc folder ("/proc/self", "/proc/PID").
#pragma once

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace rt::testing {

inline int RawSockets(const std::string &proc) {
    std::set<std::string> raw;
    std::ifstream table(proc + "/net/raw");
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 10 && fields >> field; ++i) { // the tenth field is the inode
        }
        raw.insert("socket:[" + field + "]");
    }
    int count = 0;
    std::error_code error;
    for (const auto &fd : std::filesystem::directory_iterator(proc + "/fd", error))
        count += raw.count(std::filesystem::read_symlink(fd.path(), error).string()) ? 1 : 0;
    return count;
}

} // namespace rt::testing
