// The launcher's start-up up to the runtime entry, with fake core libraries and payloads built here.
// The same cases on Linux and on Windows (under wine); where the two systems differ (owners and
// modes, links, replacing a file that is open or loaded) the cases are one platform's own.
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "launcher/platform.h"
#include "temp_dir.h"
#ifdef _WIN32
#include "formats/text/wide.h"
#endif

using namespace payload;
using rt::testing::Bytes;
using rt::testing::ReadAll;
using rt::testing::TempDir;

namespace {

using LaunchError = launcher::Error;

class Launcher : public ::testing::Test {
  protected:
    // The program's temporary folder is the test's own.
    void SetUp() override {
#ifdef _WIN32
        for (const wchar_t *name : {L"TMP", L"TEMP"}) ::SetEnvironmentVariableW(name, tmp_.path().wstring().c_str());
#else
        for (const char *name : {"TMPDIR", "XDG_RUNTIME_DIR"})
            saved_.emplace_back(name, std::getenv(name) ? std::getenv(name) : "");
        ::setenv("TMPDIR", tmp_.path().c_str(), 1);
        ::unsetenv("XDG_RUNTIME_DIR");
#endif
    }
    void TearDown() override {
#ifndef _WIN32
        for (const auto &[name, value] : saved_) {
            if (value.empty()) ::unsetenv(name.c_str());
            else ::setenv(name.c_str(), value.c_str(), 1);
        }
#endif
    }
    // An executable file: 2000 bytes of code, then the payload.
    std::string Executable(const std::vector<PayloadFile> &files, uint32_t id = 0x1A2B, std::string_view folder = "") {
        std::vector<uint8_t> exe(2000, 0x90);
        std::vector<uint8_t> p = BuildPayload(files, id, folder, 0x9E3779B9);
        exe.insert(exe.end(), p.begin(), p.end());
        std::string path = exeDir_.file("program.exe");
        Put(path, exe);
        return path;
    }
    static void Put(const std::string &path, const std::vector<uint8_t> &bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    }
    // This user's folder of that name in the temporary directory (on Windows as GetTempPath spells it).
    std::string Folder(const std::string &name) const {
#ifdef _WIN32
        wchar_t temp[MAX_PATH + 1];
        DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
        return rt::WideToUtf8(std::wstring(temp, n)) + name;
#else
        return tmp_.file(name + "-" + std::to_string(::geteuid()));
#endif
    }
    // Why a start-up failed, or nothing when it succeeded.
    static std::optional<launcher::Failure> FailureOf(const std::string &exe) {
        auto r = launcher::PrepareRuntime(exe);
        if (r) return std::nullopt;
        return r.error();
    }
    static std::optional<LaunchError> ErrorOf(const std::string &exe) {
        auto f = FailureOf(exe);
        return f ? std::optional(f->code) : std::nullopt;
    }

    TempDir tmp_, exeDir_;
    std::vector<std::pair<std::string, std::string>> saved_;
    const std::vector<uint8_t> fake_ = ReadAll(FAKE_RTCORE);
    const std::vector<uint8_t> nullEntry_ = ReadAll(FAKE_RTCORE_NULL);
    const std::vector<uint8_t> noExport_ = ReadAll(FAKE_NO_EXPORT);
};

} // namespace

TEST_F(Launcher, ExtractsIntoAFolderOfThisUserAndLoadsTheCore) {
    ASSERT_FALSE(fake_.empty());
    auto r = launcher::PrepareRuntime(Executable({{"data.txt", Bytes("hello")}, {"rtcore.slr", fake_}, {"zero", {}}}));
    ASSERT_TRUE(r) << launcher::Describe(r.error());
    EXPECT_EQ(r->folder, Folder("Q_N1A2B"));
    EXPECT_EQ(ReadAll(r->folder + "/data.txt"), Bytes("hello"));
    EXPECT_TRUE(std::filesystem::exists(r->folder + "/zero") && ReadAll(r->folder + "/zero").empty())
        << "a zero-length entry is an empty file";
    EXPECT_EQ(r->entry(nullptr), 0);
}

TEST_F(Launcher, ANamedFolderAndTheLastCoreLibraryUnderItsOwnSpelling) {
    auto r =
        launcher::PrepareRuntime(Executable({{"rtcore.slb", nullEntry_}, {"RTCORE.SLR", fake_}}, 5, "routetrace-test"));
    ASSERT_TRUE(r) << launcher::Describe(r.error());
    EXPECT_EQ(r->folder, Folder("routetrace-test"));
    EXPECT_EQ(r->coreLibrary, "RTCORE.SLR") << "the last matching entry wins, loaded as it is spelled";
    EXPECT_TRUE(std::filesystem::exists(r->folder + "/RTCORE.SLR"));
    EXPECT_EQ(ErrorOf(Executable({{"RTCORE.SLR", fake_}, {"rtcore.slb", nullEntry_}}, 6)),
              LaunchError::InvalidInterface)
        << "now the .slb, whose GetNewSock answers 0, comes last";
}

TEST_F(Launcher, EachLoadingFailureHasItsMessage) {
    EXPECT_EQ(ErrorOf(Executable({{"a", Bytes("1")}, {"b", Bytes("2")}}, 1)), LaunchError::NoKernel);
    EXPECT_EQ(ReadAll(Folder("Q_N1") + "/b"), Bytes("2")) << "every file is written before the message";
    auto notALibrary = FailureOf(Executable({{"rtcore.slr", Bytes("not a library")}}, 2));
    ASSERT_TRUE(notALibrary);
    EXPECT_EQ(notALibrary->code, LaunchError::LoadFailed);
    // The loader's reason goes with it, naming the file rather than the descriptor it was loaded through.
    EXPECT_FALSE(notALibrary->detail.empty());
    EXPECT_EQ(notALibrary->detail.find("/proc/self/fd"), std::string::npos) << notALibrary->detail;
    EXPECT_EQ(ErrorOf(Executable({{"rtcore.slr", noExport_}}, 3)), LaunchError::InvalidKernel);
    EXPECT_EQ(ErrorOf(Executable({{"rtcore.slr", nullEntry_}}, 4)), LaunchError::InvalidInterface);
    EXPECT_EQ(ErrorOf(exeDir_.file("missing.exe")), LaunchError::CantOpen);
    std::string plain = exeDir_.file("plain");
    std::ofstream(plain) << std::string(3000, 'x');
    EXPECT_EQ(ErrorOf(plain), LaunchError::InvalidData);
    EXPECT_EQ(launcher::Describe(LaunchError::NoTempDir), "Can't retrieve the temporary directory!");
}

TEST_F(Launcher, NamesThatAreNotOnePathComponentAreRefusedBeforeAnythingIsWritten) {
    for (const char *bad : {"../escape", "..\\escape", "a/b", "a\\b", "..", ".", "", "C:x"}) {
        EXPECT_EQ(ErrorOf(Executable({{"first", Bytes("x")}, {bad, Bytes("y")}, {"rtcore.slr", fake_}}, 9)),
                  LaunchError::InvalidData)
            << "entry \"" << bad << "\"";
        EXPECT_FALSE(std::filesystem::exists(Folder("Q_N9"))) << "nothing was written for \"" << bad << "\"";
    }
    for (const char *bad : {"..", "a/b", "x\\y"})
        EXPECT_EQ(ErrorOf(Executable({{"rtcore.slr", fake_}}, 10, bad)), LaunchError::InvalidData)
            << "folder \"" << bad << "\"";
    EXPECT_FALSE(std::filesystem::exists(tmp_.path().parent_path() / "escape"));
}

TEST_F(Launcher, AFolderThatIsNotOursAloneIsNeverUsedAndNeverBlocksTheStart) {
    std::ofstream(Folder("Q_N23")) << "in the way"; // a file under the folder's name
    std::vector<uint32_t> ids = {0x23};
#ifndef _WIN32
    // A folder open to others, a link, another user's folder.
    std::filesystem::create_directory(Folder("Q_N20"));
    ::chmod(Folder("Q_N20").c_str(), 0777);
    std::filesystem::create_directory(tmp_.file("elsewhere"));
    std::filesystem::create_directory_symlink(tmp_.file("elsewhere"), Folder("Q_N21"));
    ids.insert(ids.end(), {0x20, 0x21});
    if (::geteuid() == 0) {
        std::filesystem::create_directory(Folder("Q_N22"));
        ASSERT_EQ(::chown(Folder("Q_N22").c_str(), 65534, 65534), 0);
        ::chmod(Folder("Q_N22").c_str(), 0700);
        ids.push_back(0x22);
    }
#endif
    for (uint32_t id : ids) {
        std::string name = launcher::DefaultFolderName(id);
        auto r = launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}, {"data", Bytes("x")}}, id));
        ASSERT_TRUE(r) << name << ": " << launcher::Describe(r.error());
        EXPECT_EQ(r->folder.rfind(Folder(name) + "-", 0), 0u) << "a folder beside it: " << r->folder;
        EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::symlink_status(r->folder))) << r->folder;
#ifndef _WIN32
        struct stat st;
        ASSERT_EQ(::lstat(r->folder.c_str(), &st), 0);
        EXPECT_TRUE(st.st_uid == ::geteuid() && (st.st_mode & 0777) == 0700);
        std::filesystem::remove_all(r->folder);
        // Holding the core library alone, it is removed once the library is loaded (it runs from
        // sealed memory): a name someone keeps taken leaves no new folder behind at every start.
        // A loaded DLL's file stays on Windows, and its folder with it.
        r = launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}, id));
        ASSERT_TRUE(r) << name;
        EXPECT_FALSE(std::filesystem::exists(r->folder)) << r->folder;
#endif
    }
#ifndef _WIN32
    EXPECT_TRUE(std::filesystem::is_empty(tmp_.file("elsewhere"))) << "nothing written through the link";
#endif
}

TEST_F(Launcher, OnlyTheBytesItWroteAreLoaded) {
    std::string folder = Folder("Q_N40");
    std::filesystem::create_directory(folder);
#ifndef _WIN32
    // A library planted under the core's name that cannot be replaced is never loaded.
    ::chmod(folder.c_str(), 0700);
    Put(folder + "/rtcore.slr", nullEntry_);
    ::chmod(folder.c_str(), 0500); // the write fails
    auto r = launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}, 0x40));
    ::chmod(folder.c_str(), 0700);
    if (::geteuid() != 0) { // root writes into a read-only folder all the same
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().code, LaunchError::WriteFailed);
        EXPECT_NE(launcher::Describe(r.error()).find("Permission denied"), std::string::npos) << "the real cause";
    }
    // Nor is a file others may write.
    Put(folder + "/open.slr", fake_);
    ::chmod((folder + "/open.slr").c_str(), 0666);
    EXPECT_FALSE(launcher::LoadVerifiedLibrary(folder + "/open.slr", fake_));
#endif
    // The loader refuses other bytes, saying why; it takes the right ones.
    Put(folder + "/planted.slr", nullEntry_);
    auto planted = launcher::LoadVerifiedLibrary(folder + "/planted.slr", fake_);
    ASSERT_FALSE(planted);
    EXPECT_EQ(planted.error().code, LaunchError::LoadFailed);
    EXPECT_NE(launcher::Describe(planted.error()).find("planted.slr is not the file the program wrote"),
              std::string::npos)
        << launcher::Describe(planted.error());
    Put(folder + "/copy.slr", fake_);
    EXPECT_TRUE(launcher::LoadVerifiedLibrary(folder + "/copy.slr", fake_));
}

TEST_F(Launcher, ACopyStartedWhileAnotherRunsLoadsTheLibrary) {
    // The first start keeps its library loaded, as a running copy does (on Windows its file cannot
    // be replaced then: the second start keeps the file that holds the same bytes).
    std::string exe = Executable({{"rtcore.slr", fake_}}, 0x30);
    ASSERT_TRUE(launcher::PrepareRuntime(exe));
    auto second = launcher::PrepareRuntime(exe);
    ASSERT_TRUE(second) << launcher::Describe(second.error());
    EXPECT_EQ(second->entry(nullptr), 0);
}

#ifndef _WIN32
TEST_F(Launcher, TheFolderIsPrivateAndInTheUsersRuntimeFolderWhereThereIsOne) {
    auto r = launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}));
    ASSERT_TRUE(r) << launcher::Describe(r.error());
    struct stat st;
    ASSERT_EQ(::stat(r->folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // In the user's private runtime folder, where there is one, under the folder's own name.
    TempDir runtime;
    ::chmod(runtime.path().c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    auto x = launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}, 0x1A2C));
    ASSERT_TRUE(x);
    EXPECT_EQ(x->folder, runtime.file("Q_N1A2C"));
    ::chmod(runtime.path().c_str(), 0755); // not private: the temporary directory instead
    auto y = launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}, 0x1A2D));
    ASSERT_TRUE(y);
    EXPECT_EQ(y->folder, Folder("Q_N1A2D"));
}

TEST_F(Launcher, WritingIntoTheExtractedLibraryChangesNothingThatRuns) {
    auto r = launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}, 0x50));
    ASSERT_TRUE(r) << launcher::Describe(r.error());
    const auto *code = reinterpret_cast<const uint8_t *>(r->entry);
    std::vector<uint8_t> before(code, code + 32);
    // The user owns the file: every byte of it overwritten in place, with breakpoints.
    std::vector<uint8_t> other(fake_.size(), 0xCC);
    int fd = ::open((r->folder + "/" + r->coreLibrary).c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, other.data(), other.size(), 0), ssize_t(other.size()));
    ::close(fd);
    ASSERT_EQ(std::vector<uint8_t>(code, code + 32), before) << "the running code is the payload's";
    EXPECT_EQ(r->entry(nullptr), 0);
}

TEST_F(Launcher, ExtractedFilesAreReplacedSoARunningCopyKeepsItsOwn) {
    std::string exe = Executable({{"rtcore.slr", fake_}, {"data", Bytes("new")}}, 0x30);
    std::filesystem::create_directory(Folder("Q_N30"));
    ::chmod(Folder("Q_N30").c_str(), 0700);
    std::ofstream(Folder("Q_N30") + "/data") << "old";
    std::ifstream held(Folder("Q_N30") + "/data"); // like a running copy's mapping
    ASSERT_TRUE(launcher::PrepareRuntime(exe));
    std::string kept((std::istreambuf_iterator<char>(held)), {});
    EXPECT_EQ(kept, "old");
    EXPECT_EQ(ReadAll(Folder("Q_N30") + "/data"), Bytes("new"));
}

TEST_F(Launcher, ATemporaryPathTooLongIsRefusedNotCut) {
    std::string longPath = tmp_.path().string();
    while (longPath.size() < launcher::kMaxPath + 10) longPath += "/" + std::string(200, 'd');
    ::setenv("TMPDIR", longPath.c_str(), 1);
    EXPECT_EQ(ErrorOf(Executable({{"rtcore.slr", fake_}})), LaunchError::NoTempDir);
}
#endif

TEST(LauncherNames, CoreLibraryNamesAndFolderFormat) {
    for (const char *n : {"rtcore.slr", "RTCORE.SLR", "RtCore.Slb", "rtcore.slb"})
        EXPECT_TRUE(launcher::IsCoreLibraryName(n));
    for (const char *n : {"rtcore.so", "rtcore.slr.bak", "xrtcore.slr", ""})
        EXPECT_FALSE(launcher::IsCoreLibraryName(n));
    EXPECT_EQ(launcher::DefaultFolderName(0x1A2B), "Q_N1A2B");
    EXPECT_EQ(launcher::DefaultFolderName(0), "Q_N0");
    EXPECT_EQ(launcher::DefaultFolderName(0xFFFFFFFF), "Q_NFFFFFFFF");
}
