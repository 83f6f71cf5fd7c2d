// A machine shared with other users, for the tests that try the program the way a second user or
// an attacker would: an account of the test's own, copies of the program in a shared folder, and the
// namespace network with unprivileged ICMP sockets closed, so that a trace goes through the ICMP
// helper. Needs root (to make the account and give the rights).
#pragma once

#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "netns/namespace.h"
#include "program_folder.h"
#include "raw_sockets.h"
#include "shell.h"
#include "temp_dir.h"
#include "tmux_session.h"

extern char **environ;

namespace rt::testing {

// Where the package installs its ICMP helper, which a copy without one beside it uses.
inline constexpr const char kPackageHelper[] = "/usr/libexec/routetrace/routetrace-icmp";

inline constexpr const char kPath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

struct Outcome {
    int exitCode;
    std::string out, err;
};

class SharedMachine : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "making an account and giving a program rights needs root";
        if (Shell("command -v setcap").empty() || Shell("command -v setpriv").empty() ||
            Shell("command -v useradd").empty())
            GTEST_SKIP() << "setcap, setpriv and useradd are needed (scripts/setup installs them)";
        user_ = "rtpriv" + std::to_string(::getpid()); // tests run side by side, each with an account
        ASSERT_EQ(std::system(("useradd --create-home " + user_ + " >/dev/null 2>&1").c_str()), 0);
        passwd *pw = ::getpwnam(user_.c_str());
        ASSERT_NE(pw, nullptr);
        uid_ = pw->pw_uid;
        gid_ = pw->pw_gid;
        ::chmod(folder_.path().c_str(), 0755);                                // the account reads and runs the copies
        InstallProgram(folder_, PRODUCT, "\xB2\xE2\xCA\xD4\xCD\xF8", "priv"); // 测试网
        ::chmod(folder_.file("QQWry.dat").c_str(), 0644);
        prefix_ = "rtp" + std::to_string(::getpid());
        ASSERT_EQ(Topology("up " + prefix_), "");
        // Unprivileged ICMP sockets closed: only a raw socket can trace from here.
        Shell("ip netns exec " + prefix_ + "-client sysctl -qw net.ipv4.ping_group_range='1 0'");
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (!prefix_.empty()) Topology("down " + prefix_);
        if (uid_) std::filesystem::remove_all("/tmp/Q_N52544331-" + std::to_string(uid_));
        if (!user_.empty()) Shell("userdel -r " + user_);
    }

    // A copy of the program in a folder of its own in the shared folder (the current folder of its
    // runs, where the place database is): given a capability, the setuid bit, or nothing; with the
    // ICMP helper beside it given cap_net_raw, or without a helper.
    std::string Copy(const std::string &name, const std::string &rights, bool helper = false) {
        std::string folder = folder_.file(name);
        std::filesystem::create_directory(folder);
        ::chmod(folder.c_str(), 0755);
        std::string path = folder + "/routetrace";
        std::filesystem::copy_file(folder_.file("routetrace"), path);
        ::chmod(path.c_str(), 0755);
        if (rights == "setuid") {
            ::chmod(path.c_str(), 04755);
        } else if (!rights.empty()) {
            EXPECT_EQ(Shell("setcap " + rights + " " + path + " && echo ok"), "ok\n");
        }
        if (helper) {
            std::filesystem::copy_file(HELPER, folder + "/routetrace-icmp");
            ::chmod((folder + "/routetrace-icmp").c_str(), 0755);
            EXPECT_EQ(Shell("setcap cap_net_raw+ep " + folder + "/routetrace-icmp && echo ok"), "ok\n");
        }
        return path;
    }
    // The command that runs a program as the account with the barest environment, in the client.
    std::string AsUser(const std::string &program, const std::string &args) {
        return "cd " + folder_.path().string() + " && ip netns exec " + prefix_ +
               "-client setpriv --reuid=" + std::to_string(uid_) + " --regid=" + std::to_string(gid_) +
               " --init-groups env -i " + kPath + " HOME=/home/" + user_ + " " + program + " " + args;
    }
    Outcome Execute(const std::string &command) {
        TempDir out;
        int status = std::system((command + " >" + out.file("out") + " 2>" + out.file("err")).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out.read("out"), out.read("err")};
    }
    // The first lines of /proc/PID/status that start with the key.
    std::string Status(pid_t pid, const std::string &key) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(in, line);)
            if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
        return {};
    }

    // Starts the command (a trace of the silent target, so that it goes on) and returns the pid of the
    // program it runs, the newest process of the account with that command line.
    pid_t StartSilentTrace(const std::string &command, const std::string &match) {
        Topology("silence " + prefix_ + " target");
        const char *argv[] = {"sh", "-c", command.c_str(), nullptr};
        EXPECT_EQ(::posix_spawnp(&pid_, "sh", nullptr, nullptr, const_cast<char **>(argv), environ), 0);
        pid_t program = 0;
        EXPECT_TRUE(Until(
            [&] {
                program = pid_t(std::atoi(Shell("pgrep -n -u " + std::to_string(uid_) + " -f " + match).c_str()));
                return program > 0 && !Helper(program).empty();
            },
            std::chrono::seconds(20)))
            << "the trace did not start its helper";
        return program;
    }
    void StopTrace(pid_t program) {
        ::kill(program, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        Shell("ip netns exec " + prefix_ + "-target sysctl -qw net.ipv4.icmp_echo_ignore_all=0");
    }
    // The pid of the program's ICMP helper, as text; empty while there is none.
    std::string Helper(pid_t program) { return Shell("pgrep -P " + std::to_string(program) + " -x routetrace-icmp"); }

    // What the program keeps while it traces: the user's ids alone, no capability in any set, no raw
    // socket, no page both writable and executable. Its helper holds the raw socket, and nothing else.
    void ExpectNothingRaised(pid_t program) {
        std::string id = std::to_string(uid_);
        EXPECT_EQ(Status(program, "Uid"), "\t" + id + "\t" + id + "\t" + id + "\t" + id);
        for (const char *set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
            EXPECT_EQ(Status(program, set), "\t0000000000000000") << set;
        EXPECT_EQ(RawSockets("/proc/" + std::to_string(program)), 0) << "the program holds a raw socket";
        std::ifstream maps("/proc/" + std::to_string(program) + "/maps");
        for (std::string line; std::getline(maps, line);)
            EXPECT_EQ(line.find(" rwx"), std::string::npos) << "a page both writable and executable: " << line;
        pid_t helper = pid_t(std::atoi(Helper(program).c_str()));
        ASSERT_GT(helper, 0);
        EXPECT_EQ(Status(helper, "Uid"), "\t" + id + "\t" + id + "\t" + id + "\t" + id);
        for (const char *set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
            EXPECT_EQ(Status(helper, set), "\t0000000000000000") << "helper " << set;
        EXPECT_EQ(Status(helper, "NoNewPrivs"), "\t1");
        EXPECT_EQ(Status(helper, "Seccomp"), "\t2");
        EXPECT_EQ(RawSockets("/proc/" + std::to_string(helper)), 1);
    }

    TempDir folder_;
    std::string prefix_, user_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    pid_t pid_ = -1;
};

// The first words of each line (the hop and the address).
inline std::vector<std::string> Hops(const std::string &report) {
    std::vector<std::string> hops;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string hop, address;
        std::getline(fields, hop, '\t');
        std::getline(fields, address, '\t');
        hops.push_back(hop + " " + address);
    }
    return hops;
}

inline const std::vector<std::string> kFourHops = {"1 192.0.2.2", "2 198.51.100.2", "3 198.51.100.6", "4 203.0.113.2"};

} // namespace rt::testing
