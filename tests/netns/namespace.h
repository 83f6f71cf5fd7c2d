// Joining the test network from inside a test process.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace rt::testing {

inline std::string Topology(const std::string &args) {
    std::string command = std::string(TOPOLOGY_SCRIPT) + " " + args + " 2>&1";
    std::string out;
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        ::pclose(p);
    }
    return out;
}

// Moves the calling thread (and the threads it starts later) into a namespace's network.
// Builds the test network under the prefix for a whole suite: why the suite skips, or "" when the
// network is up (and must be taken down with "down PREFIX").
inline std::string SuiteNetworkUp(const std::string &prefix) {
    if (::geteuid() != 0) return "building network namespaces needs root";
    std::string out = Topology("up " + prefix);
    return out.empty() ? "" : "the test network could not be built: " + out;
}

inline bool JoinNetwork(const std::string &name) {
    int fd = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return ok;
}

// Gives the (single-threaded) process a mount namespace of its own in which /etc/hosts and
// /etc/resolv.conf are the given files, as `ip netns exec` does for a namespace's own files.
inline bool UseNameFiles(const std::string &hosts, const std::string &resolver) {
    if (::unshare(CLONE_NEWNS) != 0) return false;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    return ::mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0 &&
           ::mount(resolver.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
}

} // namespace rt::testing
