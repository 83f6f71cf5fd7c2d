// The program on a machine shared with other users, tried the way a second user or an attacker
// would: as a second account, as a copy given CAP_NET_RAW or the setuid bit, started with ambient
// capabilities or with a Qt plugin of the user's own, with files planted in its way. Needs root (to
// make the account and give the rights); the trace runs in the namespace network with unprivileged
// ICMP sockets closed, so it goes through the ICMP helper, the one file given cap_net_raw.
#include "shared_machine.h"
#include "tmux_session.h"

using namespace rt::testing;
using namespace std::chrono_literals;

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
        std::string program = Copy(rights[0] == 'c' ? "with-cap" : "with-setuid", rights, true);
        Outcome r = Execute(AsUser("FAKE_RTCORE_REPORT=" + planted + " " + program, "--report target.test"));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Hops(r.out), kFourHops) << r.out << r.err;
        EXPECT_NE(r.out.find("测试网 priv"), std::string::npos) << "places from the database beside the program";
        EXPECT_FALSE(std::filesystem::exists(planted)) << "the planted library ran";

        // While it traces (the target stays silent), nothing of the right is left in the process.
        pid_t program_pid = StartSilentTrace(AsUser(program, "--report 203.0.113.2"), "203.0.113.2");
        ASSERT_GT(program_pid, 0);
        ExpectNothingRaised(program_pid);
        StopTrace(program_pid);
    }
}

TEST_F(SharedMachine, AStartWithAmbientCapabilitiesEmptiesEverySet) {
    // As `capsh --addamb` gives them: no file right, no secure start, the capabilities in every set.
    if (Shell("command -v capsh").empty()) GTEST_SKIP() << "capsh is needed (libcap2-bin)";
    std::string program = Copy("ambient", "", true);
    std::string command = "cd " + folder_.path().string() + " && ip netns exec " + prefix_ +
                          "-client capsh --caps='cap_net_raw,cap_net_admin+eip cap_setpcap,cap_setuid,cap_setgid+ep' "
                          "--keep=1 --user=" +
                          user_ + " --addamb=cap_net_raw,cap_net_admin -- -c 'env -i " + kPath + " HOME=/home/" +
                          user_ + " " + program + " --report 203.0.113.2'";
    pid_t program_pid = StartSilentTrace(command, "203.0.113.2");
    ASSERT_GT(program_pid, 0);
    ExpectNothingRaised(program_pid);
    StopTrace(program_pid);
}

TEST_F(SharedMachine, AQtPluginOfTheUsersOwnFindsNoRawSocketAndNoRight) {
    // The user's own code in the program's process, named through the environment: it runs (it is
    // the user's to run), but finds nothing it could not have had without the program.
    std::string program = Copy("with-cap", "cap_net_raw+ep", true);
    std::string plugins = folder_.file("plugins");
    std::filesystem::create_directory(plugins);
    std::filesystem::copy_file(QPA_PROBE, plugins + "/librtprobe.so");
    ::chmod(plugins.c_str(), 0755);
    ::chmod((plugins + "/librtprobe.so").c_str(), 0755);
    std::filesystem::create_directory(folder_.file("reports"));
    ::chmod(folder_.file("reports").c_str(), 0777);
    std::string found = folder_.file("reports/plugin-found");
    for (const char *variable : {"QT_QPA_PLATFORM_PLUGIN_PATH", "QT_PLUGIN_PATH"}) {
        SCOPED_TRACE(variable);
        std::filesystem::remove(found);
        std::string path = variable[3] == 'Q' ? plugins : folder_.path().string(); // QT_PLUGIN_PATH/platforms/
        if (variable[3] != 'Q') {
            std::filesystem::create_directory(folder_.file("platforms"));
            ::chmod(folder_.file("platforms").c_str(), 0755);
            std::filesystem::copy_file(plugins + "/librtprobe.so", folder_.file("platforms/librtprobe.so"),
                                       std::filesystem::copy_options::overwrite_existing);
        }
        Execute(AsUser(std::string(variable) + "=" + path + " QT_QPA_PLATFORM=rtprobe RT_PROBE_REPORT=" + found + " " +
                           program,
                       ""));
        std::ifstream in(found);
        std::string report((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(report, "raw=0 CapEff=0000000000000000 CapPrm=0000000000000000 CapAmb=0000000000000000\n")
            << "the plugin did not run, or found more than the user's own";
    }
}

TEST_F(SharedMachine, AnyOtherRaisedStartIsRefused) {
    std::string program = Copy("with-admin", "cap_net_admin+ep");
    Outcome r = Execute(AsUser(program, "--report target.test"));
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Error: Started with rights it does not use"), std::string::npos) << r.err;
    EXPECT_EQ(r.exitCode, 2) << "a report whose start was refused traced nothing";
}

TEST_F(SharedMachine, EachReportExitCodeByARealCase) {
    std::string plain = Copy("plain", ""), raw = Copy("with-helper", "", true);
    const struct {
        std::string program, target;
        int code;
    } cases[] = {
        {raw, "target.test", 0},   // reached
        {raw, "nosuch.test", 1},   // the name does not resolve
        {plain, "target.test", 2}, // no helper beside it, and unprivileged ICMP sockets closed
    };
    // Where the package is installed, a copy without a helper beside it traces through the package's.
    bool packaged = std::filesystem::exists(kPackageHelper);
    for (const auto &c : cases) {
        if (c.program == plain && packaged) continue;
        EXPECT_EQ(Execute(AsUser(c.program, "--report " + c.target)).exitCode, c.code) << c.target;
    }
    EXPECT_EQ(Execute(AsUser(plain, "--report")).exitCode, 2) << "arguments that are wrong";
    if (packaged) GTEST_SKIP() << "the package's ICMP helper is installed: a copy without one of its own traces";
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
        std::string findings = scratch.file("lintian.txt");
        Shell("lintian " + deb + " >" + findings + " 2>&1");
        EXPECT_EQ(Shell("grep '^E:' " + findings), "") << "lintian reports errors";
        EXPECT_EQ(Shell("grep hardening- " + findings), "") << "lintian reports missing hardening";
    }
    if (!Shell("command -v desktop-file-validate").empty()) {
        EXPECT_EQ(Shell("desktop-file-validate " + usr + "/share/applications/routetrace.desktop && echo ok"), "ok\n");
    }
    if (!Shell("command -v appstreamcli").empty()) {
        EXPECT_EQ(
            Shell("appstreamcli validate --no-net " + usr + "/share/metainfo/*.metainfo.xml >/dev/null && echo ok"),
            "ok\n");
    }

    // What the package's postinst does: the right to the helper alone.
    std::string program = usr + "/bin/routetrace", helper = usr + "/libexec/routetrace/routetrace-icmp";
    ASSERT_EQ(Shell("setcap cap_net_raw+ep " + helper + " && echo ok"), "ok\n");
    EXPECT_EQ(Shell("getcap " + program), "") << "the program carries no right";
    EXPECT_EQ(Shell("readelf -d " + helper + " | grep NEEDED"),
              " 0x0000000000000001 (NEEDED)             Shared library: [libc.so.6]\n");
    // The package's folder is seen at /usr/libexec, as if installed, in a mount namespace of the run's own.
    auto installed = [&](const std::string &command) {
        return "unshare --mount --propagation private sh -c 'mount -t overlay overlay -o lowerdir=" + usr +
               "/libexec:/usr/libexec /usr/libexec && " + command + "'";
    };
    // A run from the user's home folder, where there is no database: it is found in the package's
    // data folder.
    std::string home = "/home/" + user_;
    Outcome r = Execute(installed(
        "cd " + home + " && " + AsUser("XDG_DATA_DIRS=" + usr + "/share " + program, "--report target.test --record")));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Hops(r.out), kFourHops) << r.out << r.err;
    EXPECT_EQ(r.err.find("\xE6\xB2\xA1\xE6\x89\xBE\xE5\x88\xB0"), std::string::npos) << "没找到数据库: " << r.err;
    // The program's folder is not the user's to write: the history goes to the user's own folder.
    auto history = [&] {
        std::ifstream in(home + "/.config/routetrace/lsjl.ini");
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    EXPECT_NE(history().find("url=target.test|"), std::string::npos) << history();

    // While it traces, the program holds nothing raised; the helper holds its raw socket and no right.
    pid_t program_pid = StartSilentTrace(installed(AsUser(program, "--report 203.0.113.2 --record")), "203.0.113.2");
    ASSERT_GT(program_pid, 0);
    ExpectNothingRaised(program_pid);
    StopTrace(program_pid);

    // The terminal window, started from the home folder: the same history, kept in the same place.
    if (Shell("command -v tmux").empty()) return;
    TmuxSession tmux("rtpkg" + std::to_string(::getpid()));
    tmux.Start(installed("cd " + home + " && " +
                         AsUser("TERM=xterm-256color XDG_DATA_DIRS=" + usr + "/share " + program, "")) +
                   "; echo EXIT=$?; sleep 30",
               100, 30);
    ASSERT_TRUE(tmux.WaitFor("开始追踪", 10s)) << tmux.Screen();
    tmux.Keys("'target.test'");
    ASSERT_TRUE(tmux.FocusButton("开始追踪")) << tmux.Screen();
    tmux.Keys("Enter");
    ASSERT_TRUE(tmux.WaitFor("路由追踪结束", 20s)) << tmux.Screen();
    tmux.Keys("Enter");
    // The newest first: this trace, the silent one, the first report.
    EXPECT_TRUE(
        Until([&] { return history().find("url=target.test|203.0.113.2|target.test|") != std::string::npos; }, 10s))
        << history();
    tmux.Keys("F10");
    ASSERT_TRUE(tmux.WaitFor("关于Toviq", 10s)) << tmux.Screen();
    tmux.Keys("Up Enter"); // "退出"
    EXPECT_TRUE(tmux.WaitFor("EXIT=0", 10s)) << tmux.Screen();
}
