// The launcher's start-up on Windows, up to the runtime entry, with fake core DLLs and payloads built
// here. The temporary folder is the test's own (TMP and TEMP point at it).
#include <windows.h>

#include <fstream>
#include <iterator>
#include <optional>

#include <gtest/gtest.h>

#include "formats/text/wide.h"
#include "launcher/launcher.h"
#include "launcher/platform.h"
#include "temp_dir.h"

using namespace payload;
using rt::testing::Bytes;
using rt::testing::ReadAll;
using rt::testing::TempDir;
using LaunchError = launcher::Error;

namespace {

class WindowsLauncher : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const wchar_t *name : {L"TMP", L"TEMP"}) ::SetEnvironmentVariableW(name, tmp_.path().wstring().c_str());
    }
    // An executable file: 2000 bytes of code, then the payload.
    std::string Executable(const std::vector<PayloadFile> &files, uint32_t id, std::string_view folder = "") {
        std::vector<uint8_t> exe(2000, 0x90);
        std::vector<uint8_t> p = BuildPayload(files, id, folder, 0x9E3779B9);
        exe.insert(exe.end(), p.begin(), p.end());
        std::string path = exeDir_.file("program.exe");
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(exe.data()), std::streamsize(exe.size()));
        return path;
    }
    // The folder of that name in the temporary folder, as GetTempPath spells it.
    std::string Folder(const std::string &name) const {
        wchar_t temp[MAX_PATH + 1];
        DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
        return rt::WideToUtf8(std::wstring(temp, n)) + name;
    }
    static std::optional<LaunchError> ErrorOf(const std::string &exe) {
        auto r = launcher::PrepareRuntime(exe);
        if (r) return std::nullopt;
        return r.error().code;
    }

    TempDir tmp_, exeDir_;
    const std::vector<uint8_t> fake_ = ReadAll(FAKE_RTCORE);
    const std::vector<uint8_t> nullEntry_ = ReadAll(FAKE_RTCORE_NULL);
    const std::vector<uint8_t> noExport_ = ReadAll(FAKE_NO_EXPORT);
};

} // namespace

TEST_F(WindowsLauncher, ExtractsIntoTheTemporaryFolderAndCallsTheEntryOfTheLastCore) {
    ASSERT_FALSE(fake_.empty());
    auto r = launcher::PrepareRuntime(Executable({{"data.txt", Bytes("hello")}, {"rtcore.slb", nullEntry_}, {"RTCORE.SLR", fake_}}, 0x1A2B));
    ASSERT_TRUE(r) << launcher::Describe(r.error());
    EXPECT_EQ(r->folder, Folder("Q_N1A2B"));
    EXPECT_EQ(r->coreLibrary, "RTCORE.SLR") << "the last matching entry wins, loaded as it is spelled";
    EXPECT_EQ(ReadAll(r->folder + "\\data.txt"), Bytes("hello"));
    EXPECT_EQ(r->entry(nullptr), 0);

    auto named = launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}, 5, "routetrace-test"));
    ASSERT_TRUE(named);
    EXPECT_EQ(named->folder, Folder("routetrace-test"));
}

TEST_F(WindowsLauncher, ACopyStartedWhileAnotherRunsLoadsTheLibraryThatIsThere) {
    // The first start keeps its DLL loaded, as a running copy does: it cannot be replaced.
    std::string exe = Executable({{"rtcore.slr", fake_}}, 0x30);
    ASSERT_TRUE(launcher::PrepareRuntime(exe));
    auto second = launcher::PrepareRuntime(exe);
    ASSERT_TRUE(second) << launcher::Describe(second.error());
    // Other bytes under a name are never loaded.
    std::string planted = Folder("Q_N30") + "\\planted.slr";
    std::ofstream(planted, std::ios::binary).write(reinterpret_cast<const char *>(nullEntry_.data()), std::streamsize(nullEntry_.size()));
    EXPECT_FALSE(launcher::LoadVerifiedLibrary(planted, fake_));
}

TEST_F(WindowsLauncher, EachFailureHasItsMessage) {
    EXPECT_EQ(ErrorOf(Executable({{"a", Bytes("1")}, {"b", Bytes("2")}}, 1)), LaunchError::NoKernel);
    EXPECT_EQ(ReadAll(Folder("Q_N1") + "\\b"), Bytes("2")) << "every file is written before the message";
    EXPECT_EQ(ErrorOf(Executable({{"rtcore.slr", Bytes("not a library")}}, 2)), LaunchError::LoadFailed);
    EXPECT_EQ(ErrorOf(Executable({{"rtcore.slr", noExport_}}, 3)), LaunchError::InvalidKernel);
    EXPECT_EQ(ErrorOf(Executable({{"rtcore.slr", nullEntry_}}, 4)), LaunchError::InvalidInterface);
    EXPECT_EQ(ErrorOf(exeDir_.file("missing.exe")), LaunchError::CantOpen);
}

TEST_F(WindowsLauncher, NamesThatAreNotOnePathComponentAreRefusedBeforeAnythingIsWritten) {
    for (const char *bad : {"..\\escape", "a/b", "a\\b", "..", "", "C:x"}) {
        EXPECT_EQ(ErrorOf(Executable({{"first", Bytes("x")}, {bad, Bytes("y")}, {"rtcore.slr", fake_}}, 9)), LaunchError::InvalidData)
            << "entry \"" << bad << "\"";
        EXPECT_FALSE(std::filesystem::exists(Folder("Q_N9"))) << "nothing was written for \"" << bad << "\"";
    }
}

TEST_F(WindowsLauncher, AFileUnderTheFoldersNameIsNeverUsedAndNeverBlocksTheStart) {
    std::ofstream(Folder("Q_N20")) << "in the way";
    auto r = launcher::PrepareRuntime(Executable({{"rtcore.slr", fake_}}, 0x20));
    ASSERT_TRUE(r) << launcher::Describe(r.error());
    EXPECT_EQ(r->folder.rfind(Folder("Q_N20") + "-", 0), 0u) << r->folder;
}
