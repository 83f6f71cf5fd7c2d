// The program on a machine shared with other users, tried the way a second user or an attacker
// would: as a second account, as a copy given CAP_NET_RAW or the setuid bit, with files planted in
// its way. Needs root (to make the account and give the rights); the trace runs in the namespace
// network with unprivileged ICMP sockets closed.
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
#include "shell.h"
#include "temp_dir.h"
#include "tmux_session.h"

using namespace rt::testing;
using namespace std::chrono_literals;

extern char **environ;

namespace {

constexpr const char kPath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

struct Outcome {
    int exitCode;
    std::string out, err;
};

class SharedMachine : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "making an account and giving a program rights needs root";
        if (Shell("command -v setcap").empty() || Shell("command -v setpriv").empty() || Shell("command -v useradd").empty())
            GTEST_SKIP() << "setcap, setpriv and useradd are needed (scripts/setup installs them)";
        user_ = "rtpriv" + std::to_string(::getpid()); // tests run side by side, each with an account
        ASSERT_EQ(std::system(("useradd --create-home " + user_ + " >/dev/null 2>&1").c_str()), 0);
        passwd *pw = ::getpwnam(user_.c_str());
        ASSERT_NE(pw, nullptr);
        uid_ = pw->pw_uid;
        gid_ = pw->pw_gid;
        ::chmod(folder_.path().c_str(), 0755); // the account reads and runs the copies
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

    // A copy of the program in the shared folder (the current folder of its runs, where the place
    // database is): given a capability, the setuid bit, or nothing.
    std::string Copy(const std::string &name, const std::string &rights) {
        std::string path = folder_.file(name);
        std::filesystem::copy_file(folder_.file("routetrace"), path);
        ::chmod(path.c_str(), 0755);
        if (rights == "setuid") {
            ::chmod(path.c_str(), 04755);
        } else if (!rights.empty()) {
            EXPECT_EQ(Shell("setcap " + rights + " " + path + " && echo ok"), "ok\n");
        }
        return path;
    }
    // The command that runs a program as the account with the barest environment, in the client.
    std::string AsUser(const std::string &program, const std::string &args) {
        return "cd " + folder_.path().string() + " && ip netns exec " + prefix_ + "-client setpriv --reuid=" + std::to_string(uid_) + " --regid=" +
               std::to_string(gid_) + " --init-groups env -i " + kPath + " HOME=/home/" + user_ + " " + program + " " + args;
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

    TempDir folder_;
    std::string prefix_, user_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    pid_t pid_ = -1;
};

// The first words of each line (the hop and the address).
std::vector<std::string> Hops(const std::string &report) {
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

const std::vector<std::string> kFourHops = {"1 192.0.2.2", "2 198.51.100.2", "3 198.51.100.6", "4 203.0.113.2"};

} // namespace

TEST_F(SharedMachine, ASecondUserStartsAfterRootDidWithTheBarestEnvironment) {
    std::string program = Copy("plain", "");
    // No display and no terminal: each start unpacks its runtime, then says how to run a report.
    Outcome root = Execute(std::string("env -i ") + kPath + " " + program);
    EXPECT_EQ(root.exitCode, 2);
    EXPECT_EQ(root.err.find("Error"), std::string::npos) << root.err;
    Outcome user = Execute("setpriv --reuid=" + std::to_string(uid_) + " --regid=" + std::to_string(gid_) +
                       " --init-groups env -i " + kPath + " " + program);
    EXPECT_EQ(user.exitCode, 2);
    EXPECT_EQ(user.err.find("Error"), std::string::npos) << user.err;
    struct stat st;
    ASSERT_EQ(::lstat(("/tmp/Q_N52544331-" + std::to_string(uid_)).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid_);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(SharedMachine, ACopyWithARaisedRightTracesWithEveryRightDropped) {
    // A library planted where this user's copy extracts to never runs: it would write its report.
    std::string folder = "/tmp/Q_N52544331-" + std::to_string(uid_);
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(FAKE_RTCORE, folder + "/rtcore.slr");
    ASSERT_EQ(::chown(folder.c_str(), uid_, gid_) | ::chown((folder + "/rtcore.slr").c_str(), uid_, gid_), 0);
    ::chmod(folder.c_str(), 0700);
    std::filesystem::create_directory(folder_.file("reports"));
    ::chmod(folder_.file("reports").c_str(), 0777); // where the planted library would write
    std::string planted = folder_.file("reports/planted-ran");

    for (const char *rights : {"cap_net_raw+ep", "setuid"}) {
        SCOPED_TRACE(rights);
        std::string program = Copy(rights[0] == 'c' ? "with-cap" : "with-setuid", rights);
        Outcome r = Execute(AsUser("FAKE_RTCORE_REPORT=" + planted + " " + program, "--report target.test"));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Hops(r.out), kFourHops) << r.out << r.err;
        EXPECT_NE(r.out.find("测试网 priv"), std::string::npos) << "places from the database beside the program";
        EXPECT_FALSE(std::filesystem::exists(planted)) << "the planted library ran";

        // While it traces (the target stays silent), nothing of the right is left in the process.
        Topology("silence " + prefix_ + " target");
        std::string command = AsUser(program, "--report 203.0.113.2");
        const char *argv[] = {"sh", "-c", command.c_str(), nullptr};
        ASSERT_EQ(::posix_spawnp(&pid_, "sh", nullptr, nullptr, const_cast<char **>(argv), environ), 0);
        // The program is the newest process of the account.
        pid_t program_pid = 0;
        for (int i = 0; i < 100 && !program_pid; ++i) {
            std::this_thread::sleep_for(50ms);
            program_pid = pid_t(std::atoi(Shell("pgrep -n -u " + std::to_string(uid_) + " -f 203.0.113.2").c_str()));
        }
        ASSERT_GT(program_pid, 0);
        std::this_thread::sleep_for(500ms); // well into the silent hops
        std::string id = std::to_string(uid_);
        EXPECT_EQ(Status(program_pid, "Uid"), "\t" + id + "\t" + id + "\t" + id + "\t" + id);
        for (const char *set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
            EXPECT_EQ(Status(program_pid, set), "\t0000000000000000") << set;
        EXPECT_EQ(Status(program_pid, "NoNewPrivs"), "\t1");
        std::ifstream maps("/proc/" + std::to_string(program_pid) + "/maps");
        for (std::string line; std::getline(maps, line);)
            EXPECT_EQ(line.find(" rwx"), std::string::npos) << "a page both writable and executable: " << line;
        ::kill(program_pid, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        Shell("ip netns exec " + prefix_ + "-target sysctl -qw net.ipv4.icmp_echo_ignore_all=0");
    }
}

TEST_F(SharedMachine, AnyOtherRaisedStartIsRefused) {
    std::string program = Copy("with-admin", "cap_net_admin+ep");
    Outcome r = Execute(AsUser(program, "--report target.test"));
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Error: Started with rights it does not use"), std::string::npos) << r.err;
}

TEST_F(SharedMachine, EachReportExitCodeByARealCase) {
    std::string plain = Copy("plain", ""), raw = Copy("with-cap", "cap_net_raw+ep");
    const struct {
        std::string program, target;
        int code;
    } cases[] = {
        {raw, "target.test", 0},   // reached
        {raw, "nosuch.test", 1},   // the name does not resolve
        {plain, "target.test", 2}, // no right to a raw socket, and unprivileged ICMP sockets closed
    };
    for (const auto &c : cases) EXPECT_EQ(Execute(AsUser(c.program, "--report " + c.target)).exitCode, c.code) << c.target;
    EXPECT_EQ(Execute(AsUser(plain, "--report")).exitCode, 2) << "arguments that are wrong";
}

TEST_F(SharedMachine, TheInstalledPackageTracesForAnOrdinaryUser) {
    std::string deb = Shell(std::string("ls ") + PACKAGE_GLOB + " | tail -n 1");
    if (deb.empty()) GTEST_SKIP() << "no package: scripts/package builds it";
    deb.pop_back();
    TempDir scratch;
    ::chmod(scratch.path().c_str(), 0755);
    ASSERT_EQ(Shell("dpkg -x " + deb + " " + scratch.path().string() + " && echo ok"), "ok\n");
    std::string usr = scratch.file("usr");
    if (!Shell("command -v lintian").empty()) {
        EXPECT_EQ(Shell("lintian " + deb + " 2>&1 | grep '^E:'"), "") << "lintian reports errors";
    }
    if (!Shell("command -v desktop-file-validate").empty()) {
        EXPECT_EQ(Shell("desktop-file-validate " + usr + "/share/applications/routetrace.desktop && echo ok"), "ok\n");
    }
    if (!Shell("command -v appstreamcli").empty()) {
        EXPECT_EQ(Shell("appstreamcli validate --no-net " + usr + "/share/metainfo/*.metainfo.xml >/dev/null && echo ok"), "ok\n");
    }

    // What the package's postinst does, then a run from the user's home folder, where there is no
    // database: it is found in the package's data folder.
    std::string program = usr + "/bin/routetrace";
    ASSERT_EQ(Shell("setcap cap_net_raw+ep " + program + " && echo ok"), "ok\n");
    std::string home = "/home/" + user_;
    Outcome r = Execute("cd " + home + " && " + AsUser("XDG_DATA_DIRS=" + usr + "/share " + program, "--report target.test --record"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Hops(r.out), kFourHops) << r.out << r.err;
    EXPECT_EQ(r.err.find("\xE6\xB2\xA1\xE6\x89\xBE\xE5\x88\xB0"), std::string::npos) << "没找到数据库: " << r.err;
    // The program's folder is not the user's to write: the history goes to the user's own folder.
    auto history = [&] {
        std::ifstream in(home + "/.config/routetrace/lsjl.ini");
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    EXPECT_NE(history().find("url=target.test|"), std::string::npos) << history();

    // The terminal window, started from the home folder: the same history, kept in the same place.
    if (Shell("command -v tmux").empty()) return;
    TmuxSession tmux("rtpkg" + std::to_string(::getpid()));
    tmux.Start("cd " + home + " && " + AsUser("TERM=xterm-256color XDG_DATA_DIRS=" + usr + "/share " + program, "") +
                   "; echo EXIT=$?; sleep 30",
               100, 30);
    ASSERT_TRUE(tmux.WaitFor("开始追踪", 5s)) << tmux.Screen();
    tmux.Keys("'target.test'");
    ASSERT_TRUE(tmux.FocusButton("开始追踪")) << tmux.Screen();
    tmux.Keys("Enter");
    ASSERT_TRUE(tmux.WaitFor("路由追踪结束", 10s)) << tmux.Screen();
    tmux.Keys("Enter");
    EXPECT_TRUE(Until([&] { return history().find("url=target.test|target.test|") != std::string::npos; }, 3s)) << history();
    tmux.Keys("F10");
    ASSERT_TRUE(tmux.WaitFor("关于Toviq", 2s)) << tmux.Screen();
    tmux.Keys("Up Enter"); // "退出"
    EXPECT_TRUE(tmux.WaitFor("EXIT=0", 3s)) << tmux.Screen();
}
