// Files another user plants beside a copy of the program in a shared folder (sticky, as /tmp is), or
// in the folder a user traces from: none of them runs, is read or is written as the user's own, and
// each one passed over is named on standard error. Needs root (an account, files of another owner).
#include "history_file.h"
#include "shared_machine.h"

using namespace rt::testing;

namespace {

// The owner of every planted file: a user other than the one who traces.
constexpr uid_t kAttacker = 65534;

class PlantedFiles : public SharedMachine {
  protected:
    void SetUp() override {
        SharedMachine::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        shared_ = folder_.file("shared");
        std::filesystem::create_directory(shared_);
        ::chmod(shared_.c_str(), 01777);
        program_ = shared_ + "/routetrace";
        std::filesystem::copy_file(folder_.file("routetrace"), program_);
        ::chmod(program_.c_str(), 0755);
    }
    // A file of another user's, readable and runnable by everyone, at that name in the shared folder.
    void Plant(const std::string &name, const std::string &bytes) {
        std::string path = shared_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        ASSERT_EQ(::chown(path.c_str(), kAttacker, kAttacker), 0);
        ::chmod(path.c_str(), 0755);
    }
    // The user's unprivileged ICMP sockets opened in the client: no helper is needed to trace.
    void AllowDatagramIcmp() {
        Shell("ip netns exec " + prefix_ + "-client sysctl -qw net.ipv4.ping_group_range='0 2147483647'");
    }
    std::string Home(const std::string &path) { return "/home/" + user_ + "/" + path; }
    // The line the program writes for a file it passes over.
    std::string PassedOver(const std::string &name, const std::string &why) {
        return "not using " + shared_ + "/" + name + ": " + why;
    }

    std::string shared_, program_;
};

} // namespace

TEST_F(PlantedFiles, AHelperBesideASharedCopyNeverRuns) {
    std::string marker = folder_.file("reports/helper-ran");
    std::filesystem::create_directory(folder_.file("reports"));
    ::chmod(folder_.file("reports").c_str(), 0777);
    // It would leave its mark, then serve the trace as the real one does, so nothing would show.
    Plant("routetrace-icmp", "#!/bin/sh\ntouch " + marker + "\nexec " + HELPER + "\n");
    Outcome r = Execute(AsUser(program_, "--report target.test"));
    EXPECT_FALSE(std::filesystem::exists(marker)) << "the planted helper ran as the user";
    EXPECT_NE(r.err.find(PassedOver("routetrace-icmp", "it belongs to another user")), std::string::npos) << r.err;
    // The package's helper, where it is installed; otherwise there is no ICMP to trace with.
    EXPECT_EQ(r.exitCode, std::filesystem::exists(kPackageHelper) ? 0 : 2) << r.err;
}

TEST_F(PlantedFiles, ADatabaseAndAHistoryInTheSharedFolderAreNeitherReadNorWritten) {
    AllowDatagramIcmp();
    QqwryBuilder b;
    b.Index(QqwryBuilder::Ip("192.0.2.0"), b.Simple(QqwryBuilder::Ip("203.0.113.255"), "planted", "place"));
    Plant("QQWry.dat", b.Finish());
    const std::string history = HistoryFile("planted.example|");
    Plant("lsjl.ini", history);
    // The user's own copy of the database, where an installed program's user keeps one.
    std::string data = Home(".local/share/routetrace");
    std::filesystem::create_directories(data);
    std::filesystem::copy_file(folder_.file("QQWry.dat"), data + "/QQWry.dat");
    Shell("chown -R " + user_ + ": " + Home(".local"));

    // Traced from the shared folder: the planted database is in the current folder and beside the copy.
    std::string command = AsUser(program_, "--report target.test --record");
    command.replace(command.find(folder_.path().string()), folder_.path().string().size(), shared_);
    Outcome r = Execute(command);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Hops(r.out), kFourHops) << r.out << r.err;
    EXPECT_NE(r.out.find("测试网 priv"), std::string::npos) << "places from the user's own database: " << r.out;
    EXPECT_EQ(r.out.find("planted"), std::string::npos) << r.out;
    for (const char *name : {"QQWry.dat", "lsjl.ini"})
        EXPECT_NE(r.err.find(PassedOver(name, "it belongs to another user")), std::string::npos) << r.err;
    EXPECT_EQ(Shell("cat " + shared_ + "/lsjl.ini"), history) << "the planted history was changed";
    EXPECT_EQ(Shell("cat " + Home(".config/routetrace/lsjl.ini")), HistoryFile("target.test|"))
        << "the history goes to the user's own folder";
}

// Another user made the lock folder this user's copies would use first, so that they would save
// without a lock. The copies agree on the user's own folder instead and keep every entry.
TEST_F(PlantedFiles, ASquattedLockFolderLosesNoEntryOfParallelSaves) {
    AllowDatagramIcmp();
    std::string squat = "/tmp/routetrace-" + std::to_string(uid_);
    std::filesystem::remove_all(squat);
    ASSERT_EQ(::mkdir(squat.c_str(), 0777), 0);
    ASSERT_EQ(::chown(squat.c_str(), kAttacker, kAttacker) | ::chmod(squat.c_str(), 0777), 0);
    constexpr int kCopies = 8;
    std::string program = Copy("installed", ""); // in a folder the user cannot write, as an installed one
    std::string all;
    for (int i = 0; i < kCopies; ++i) all += "(" + AsUser(program, "--report target.test --record") + ") & ";
    Outcome r = Execute("sh -c '" + all + "wait'");
    std::filesystem::remove_all(squat);
    std::string saved = Shell("cat " + Home(".config/routetrace/lsjl.ini"));
    std::string entries;
    for (int i = 0; i < kCopies; ++i) entries += "target.test|";
    EXPECT_EQ(saved, HistoryFile(entries)) << r.err;
}
