// The launcher's start-up up to the runtime entry, with fake core libraries and payloads built here.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "launcher/platform.h"
#include "temp_dir.h"

using namespace payload;
using rt::testing::TempDir;

namespace {

std::vector<uint8_t> ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

class Launcher : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
        ::setenv("TMPDIR", tmp_.path().c_str(), 1);
    }
    void TearDown() override {
        if (previous_.empty()) ::unsetenv("TMPDIR");
        else ::setenv("TMPDIR", previous_.c_str(), 1);
    }
    // An executable file: 2000 bytes of code, then the payload.
    std::string Executable(const std::vector<PayloadFile> &files, uint32_t id = 0x1A2B, std::string_view folder = "") {
        std::vector<uint8_t> exe(2000, 0x90);
        std::vector<uint8_t> p = BuildPayload(files, id, folder, 0x9E3779B9);
        exe.insert(exe.end(), p.begin(), p.end());
        std::string path = exeDir_.file("program");
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(exe.data()), std::streamsize(exe.size()));
        return path;
    }
    std::string Folder(const std::string &name) const { return tmp_.file(name); }

    TempDir tmp_, exeDir_;
    std::string previous_;
    const std::vector<uint8_t> fake_ = ReadAll(FAKE_RTCORE);
    const std::vector<uint8_t> nullEntry_ = ReadAll(FAKE_RTCORE_NULL);
    const std::vector<uint8_t> noExport_ = ReadAll(FAKE_NO_EXPORT);
};

} // namespace

TEST_F(Launcher, ExtractsIntoAPrivateFolderNamedFromTheIdentifierAndLoadsTheCore) {
    auto r = launcher::PrepareRuntime(Executable({{"data.txt", Bytes("hello")}, {"rtcore.slr", fake_}, {"zero", {}}}));
    ASSERT_EQ(r.message, "");
    ASSERT_NE(r.entry, nullptr);
    EXPECT_EQ(r.folder, Folder("Q_N1A2B"));
    struct stat st;
    ASSERT_EQ(::stat(r.folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(ReadAll(r.folder + "/data.txt"), Bytes("hello"));
    EXPECT_TRUE(ReadAll(r.folder + "/zero").empty()) << "a zero-length entry is an empty file";
    EXPECT_EQ(r.entry(nullptr), 0);
}

TEST_F(Launcher, ANamedFolderAndTheLastCoreLibraryUnderItsOwnSpelling) {
    auto r = launcher::PrepareRuntime(
        Executable({{"rtcore.slb", nullEntry_}, {"RTCORE.SLR", fake_}}, 5, "routetrace-test"));
    ASSERT_EQ(r.message, "");
    EXPECT_EQ(r.folder, Folder("routetrace-test"));
    EXPECT_EQ(r.coreLibrary, "RTCORE.SLR") << "the last matching entry wins, loaded as it is spelled";
    EXPECT_EQ(::access((r.folder + "/RTCORE.SLR").c_str(), F_OK), 0);
    auto s = launcher::PrepareRuntime(Executable({{"RTCORE.SLR", fake_}, {"rtcore.slb", nullEntry_}}, 6));
    EXPECT_EQ(s.message, launcher::kInvalidInterface) << "now the .slb, whose GetNewSock answers 0, comes last";
}

TEST_F(Launcher, EachLoadingFailureHasItsMessage) {
    auto none = launcher::PrepareRuntime(Executable({{"a", Bytes("1")}, {"b", Bytes("2")}}, 1));
    EXPECT_EQ(none.message, "Not found the kernel library!");
    EXPECT_EQ(ReadAll(Folder("Q_N1") + "/b"), Bytes("2")) << "every file is written before the message";
    EXPECT_EQ(launcher::PrepareRuntime(Executable({{"rtcore.slr", Bytes("not a library")}}, 2)).message,
              "Failed to load kernel library!");
    EXPECT_EQ(launcher::PrepareRuntime(Executable({{"rtcore.slr", noExport_}}, 3)).message,
              "The kernel library is invalid!");
    EXPECT_EQ(launcher::PrepareRuntime(Executable({{"rtcore.slr", nullEntry_}}, 4)).message,
              "The interface of kernel library is invalid!");
    EXPECT_EQ(launcher::PrepareRuntime(exeDir_.file("missing")).message, "Can't open file!");
    std::string plain = exeDir_.file("plain");
    std::ofstream(plain) << std::string(3000, 'x');
    EXPECT_EQ(launcher::PrepareRuntime(plain).message, "Invalid data in the file!");
}

TEST_F(Launcher, NamesThatAreNotOnePathComponentAreRefusedBeforeAnythingIsWritten) {
    for (const char *bad : {"../escape", "a/b", "a\\b", "..", ".", ""}) {
        auto r = launcher::PrepareRuntime(Executable({{"first", Bytes("x")}, {bad, Bytes("y")}, {"rtcore.slr", fake_}}, 9));
        EXPECT_EQ(r.message, "Invalid data in the file!") << "entry \"" << bad << "\"";
        EXPECT_FALSE(std::filesystem::exists(Folder("Q_N9"))) << "nothing was written for \"" << bad << "\"";
    }
    for (const char *bad : {"..", "a/b", "x\\y"}) {
        auto r = launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}, 10, bad));
        EXPECT_EQ(r.message, "Invalid data in the file!") << "folder \"" << bad << "\"";
    }
    EXPECT_FALSE(std::filesystem::exists(tmp_.path().parent_path() / "escape"));
}

TEST_F(Launcher, AFolderThatIsNotOursAloneIsNotLoadedFrom) {
    std::filesystem::create_directory(Folder("Q_N20"));
    ::chmod(Folder("Q_N20").c_str(), 0777);
    EXPECT_EQ(launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}, 0x20)).message,
              "Can't retrieve the temporary directory!");
    std::filesystem::create_directory(Folder("elsewhere"));
    std::filesystem::create_directory_symlink(Folder("elsewhere"), Folder("Q_N21"));
    EXPECT_EQ(launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}, 0x21)).message,
              "Can't retrieve the temporary directory!") << "a link is not followed";
    if (::geteuid() == 0) {
        std::filesystem::create_directory(Folder("Q_N22"));
        ASSERT_EQ(::chown(Folder("Q_N22").c_str(), 65534, 65534), 0);
        ::chmod(Folder("Q_N22").c_str(), 0700);
        EXPECT_EQ(launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}, 0x22)).message,
                  "Can't retrieve the temporary directory!") << "a folder owned by another user";
    }
}

TEST_F(Launcher, ExtractedFilesAreReplacedSoARunningCopyKeepsItsOwn) {
    std::string exe = Executable({{"rtcore.slr", fake_}, {"data", Bytes("new")}}, 0x30);
    std::filesystem::create_directory(Folder("Q_N30"));
    ::chmod(Folder("Q_N30").c_str(), 0700);
    std::ofstream(Folder("Q_N30") + "/data") << "old";
    std::ifstream held(Folder("Q_N30") + "/data"); // like a running copy's mapping
    ASSERT_EQ(launcher::PrepareRuntime(exe).message, "");
    std::string kept((std::istreambuf_iterator<char>(held)), {});
    EXPECT_EQ(kept, "old");
    EXPECT_EQ(ReadAll(Folder("Q_N30") + "/data"), Bytes("new"));
}

TEST_F(Launcher, ATemporaryPathTooLongIsRefusedNotCut) {
    std::string deep = tmp_.path().string() + "/" + std::string(200, 'd');
    std::string longPath = deep;
    while (longPath.size() < launcher::kMaxPath + 10) longPath += "/" + std::string(200, 'd');
    ::setenv("TMPDIR", longPath.c_str(), 1);
    EXPECT_EQ(launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}})).message,
              "Can't retrieve the temporary directory!");
}

TEST(LauncherNames, CoreLibraryNamesAndFolderFormat) {
    for (const char *n : {"rtcore.slr", "RTCORE.SLR", "RtCore.Slb", "rtcore.slb"}) EXPECT_TRUE(launcher::IsCoreLibraryName(n));
    for (const char *n : {"rtcore.so", "rtcore.slr.bak", "xrtcore.slr", ""}) EXPECT_FALSE(launcher::IsCoreLibraryName(n));
    EXPECT_EQ(launcher::DefaultFolderName(0x1A2B), "Q_N1A2B");
    EXPECT_EQ(launcher::DefaultFolderName(0), "Q_N0");
    EXPECT_EQ(launcher::DefaultFolderName(0xFFFFFFFF), "Q_NFFFFFFFF");
}
