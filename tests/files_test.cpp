// File commands as the location lookup uses them.
#include <cstdlib>
#include <filesystem>
#include <functional>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "formats/io/io.h"
#include "runtime/core/files.h"
#include "host_fixture.h"
#include "temp_dir.h"

using namespace rt::testing;

namespace {

int32_t Open(const std::string &path) {
    return ResultInt(CallUnchecked(cmd::FileOpen, ArgText(path.c_str()), ArgInt(1), ArgInt(1)));
}
std::string Read(int32_t f, int32_t n) { return TakeBytes(CallUnchecked(cmd::FileRead, ArgInt(f), ArgInt(n))); }
void Seek(int32_t f, int32_t origin, int32_t distance) {
    if (origin == 0) CallUnchecked(cmd::FileSeek, ArgInt(f), ArgOmitted(), ArgInt(distance));
    else CallUnchecked(cmd::FileSeek, ArgInt(f), ArgInt(origin), ArgInt(distance));
}

} // namespace

TEST(FileCommands, ReadBytesAndTextsAtPositions) {
    TempDir dir;
    std::string content = std::string("\x08\x00\x00\x00", 4) + "abc" + std::string(1, '\0') + "tail";
    dir.write("data.bin", content);
    int32_t f = Open(dir.file("data.bin"));
    ASSERT_NE(f, 0);
    EXPECT_EQ(Read(f, 4), std::string("\x08\x00\x00\x00", 4));
    EXPECT_EQ(TakeText(CallUnchecked(cmd::FileReadText, ArgInt(f), ArgOmitted())), "abc");
    EXPECT_EQ(Read(f, 2), "ta");  // the text read moved past its NUL
    Seek(f, 3, -1);               // one byte back
    EXPECT_EQ(Read(f, 9), "ail"); // fewer bytes at the end of the file
    EXPECT_EQ(Read(f, 1), "");
    Seek(f, 0, 5); // origin omitted: from the start
    EXPECT_EQ(Read(f, 2), "bc");
    Seek(f, 1, 1000); // beyond the end: reads are empty, texts too
    EXPECT_EQ(Read(f, 3), "");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::FileReadText, ArgInt(f), ArgOmitted())), "");
    Seek(f, 2, -2); // from the end
    EXPECT_EQ(TakeText(CallUnchecked(cmd::FileReadText, ArgInt(f), ArgOmitted())),
              "il"); // no NUL: the rest of the file
    CallUnchecked(cmd::FileClose, ArgInt(f));
    EXPECT_EQ(Read(f, 3), "") << "a closed file reads as empty";
    EXPECT_EQ(rt::Runtime::Instance().files().OpenCount(), 0u);
}

TEST(FileCommands, ReadsAcrossCacheBlocks) {
    TempDir dir;
    std::string content(10000, 'x');
    for (size_t i = 0; i < content.size(); ++i) content[i] = char('a' + i % 26);
    content[8999] = 0;
    dir.write("big", content);
    int32_t f = Open(dir.file("big"));
    Seek(f, 1, 4090);
    EXPECT_EQ(Read(f, 12), content.substr(4090, 12));
    Seek(f, 1, 100);
    EXPECT_EQ(TakeText(CallUnchecked(cmd::FileReadText, ArgInt(f), ArgOmitted())), content.substr(100, 8899));
    EXPECT_EQ(Read(f, 3), content.substr(9000, 3));
    CallUnchecked(cmd::FileClose, ArgInt(f));
}

TEST(FileCommands, WindowsPathsAndLetterCase) {
    TempDir dir;
    dir.write("QQWry.dat", "db");
    std::string windowsStyle = dir.path().string() + "\\qqwry.DAT";
    int32_t f = Open(windowsStyle);
    ASSERT_NE(f, 0) << "backslashes and another letter case still find the file";
    EXPECT_EQ(Read(f, 2), "db");
    CallUnchecked(cmd::FileClose, ArgInt(f));
    EXPECT_EQ(Open(dir.file("missing.dat")), 0);
    EXPECT_EQ(Open(dir.path().string()), 0) << "a folder is no file";
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::FileOpen, ArgText(dir.file("QQWry.dat").c_str()), ArgInt(99), ArgInt(1))),
              0);
}

TEST(FileCommands, DeleteAndProgramFolder) {
    TempDir dir;
    dir.write("lsjl.ini", "x");
    CallUnchecked(cmd::FileDelete, ArgText((dir.path().string() + "\\lsjl.ini").c_str()));
    EXPECT_FALSE(dir.exists("lsjl.ini"));
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::FileDelete, ArgText(dir.file("lsjl.ini").c_str()))), 0);

    std::string exeFolder = TakeText(CallUnchecked(cmd::ProgramFolder));
    EXPECT_FALSE(exeFolder.empty());
    EXPECT_NE(exeFolder.back(), '/');
    rt::Runtime::Instance().SetProgramFolder(dir.path().string());
    EXPECT_EQ(TakeText(CallUnchecked(cmd::ProgramFolder)), dir.path().string());
    rt::Runtime::Instance().SetProgramFolder("");
}

// A copy installed where the user may not write (Program Files, /usr/bin) keeps its history in the
// user's own folder. tests/unwritable_folder.sh gives the test such a program folder: one made
// immutable, which not even root may write.
TEST(UserFiles, AProgramFolderTheUserCannotWriteKeepsTheHistoryInTheUsersOwnFolder) {
    const char *locked = std::getenv("RT_UNWRITABLE_FOLDER");
    if (!locked || !*locked) GTEST_SKIP() << "needs a folder no one may write: tests/unwritable_folder.sh makes one";
    TempDir user;
#ifdef _WIN32
    const std::wstring kUserFolder = L"APPDATA",
                       was = _wgetenv(kUserFolder.c_str()) ? _wgetenv(kUserFolder.c_str()) : L"";
    ::_wputenv_s(kUserFolder.c_str(), user.path().wstring().c_str());
    const std::string stored = rt::Runtime::Instance().product().folder + "\\lsjl.ini";
#else
    const char *kUserFolder = "XDG_CONFIG_HOME";
    const std::string was = std::getenv(kUserFolder) ? std::getenv(kUserFolder) : "";
    ::setenv(kUserFolder, user.path().c_str(), 1);
    const std::string stored = rt::Runtime::Instance().product().folder + "/lsjl.ini";
#endif
    rt::Runtime::Instance().SetProgramFolder(locked);
    const std::string ini = std::string(locked) + "\\lsjl.ini"; // joined as the handlers join it
    CallUnchecked(cmd::WriteConfigItem, ArgText(ini.c_str()), ArgText("s"), ArgText("url"), ArgText("a|"));
    EXPECT_EQ(user.read(stored), "[s]\r\nurl=a|\r\n");
    EXPECT_EQ(
        TakeText(CallUnchecked(cmd::ReadConfigItem, ArgText(ini.c_str()), ArgText("s"), ArgText("url"), ArgOmitted())),
        "a|");
    rt::Runtime::Instance().SetProgramFolder("");
#ifdef _WIN32
    ::_wputenv_s(kUserFolder.c_str(), was.c_str());
#else
    if (was.empty()) ::unsetenv(kUserFolder);
    else ::setenv(kUserFolder, was.c_str(), 1);
#endif
}

#ifndef _WIN32
// What may be planted where other users can write: a file is the user's own only as OpenSSH takes
// authorized_keys. Giving a file or folder away needs root; those cases are left out otherwise.
TEST(UserFiles, AFileIsTakenAsTheUsersOwnOnlyWhenNoOneElseCouldHavePutItThere) {
    struct Case {
        const char *what;
        mode_t folderMode, fileMode;
        uid_t folderOwner, fileOwner; // 0: the user
        const char *why;              // nullptr: the user's own
    } cases[] = {
        {"the user's own", 0755, 0644, 0, 0, nullptr},
        {"in a sticky folder everyone may write", 01777, 0644, 0, 0, nullptr},
        {"a file the group may write", 0755, 0664, 0, 0, "others may write to it"},
        {"a file everyone may write", 0755, 0646, 0, 0, "others may write to it"},
        {"in a folder everyone may write", 0777, 0644, 0, 0, "others may write to the folder "},
        {"in a folder the group may write", 0775, 0644, 0, 0, "others may write to the folder "},
        {"another user's file", 01777, 0644, 0, 65534, "it belongs to another user"},
        {"in another user's folder", 0755, 0644, 65534, 0, "belongs to another user"},
    };
    for (const Case &c : cases) {
        if ((c.folderOwner || c.fileOwner) && ::geteuid() != 0) continue;
        TempDir dir;
        std::string folder = dir.file("f"), file = folder + "/QQWry.dat";
        std::filesystem::create_directory(folder);
        dir.write("f/QQWry.dat", "x");
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode) | ::chmod(file.c_str(), c.fileMode), 0) << c.what;
        ASSERT_EQ(::chown(folder.c_str(), c.folderOwner ? c.folderOwner : ::geteuid(), gid_t(-1)), 0);
        ASSERT_EQ(::chown(file.c_str(), c.fileOwner ? c.fileOwner : ::geteuid(), gid_t(-1)), 0);
        auto why = rt::io::WhyNotOwn(file);
        if (!c.why) EXPECT_FALSE(why) << c.what << ": " << why.value_or("");
        else EXPECT_NE(why.value_or("").find(c.why), std::string::npos) << c.what << ": " << why.value_or("");
    }
    TempDir dir;
    dir.write("target", "x");
    std::filesystem::create_symlink(dir.file("target"), dir.file("link"));
    std::filesystem::create_directory(dir.file("folder"));
    EXPECT_EQ(rt::io::WhyNotOwn(dir.file("link")).value_or(""), "it is a link");
    EXPECT_EQ(rt::io::WhyNotOwn(dir.file("folder")).value_or(""), "it is not a regular file");
}

// A database linked into a copy's folder by its user is used where nobody else could have put the
// link or the file it leads to.
TEST(UserFiles, ALinkIsUsedOnlyWhenItAndWhatItLeadsToAreTheUsersOwn) {
    struct Case {
        const char *what;
        uid_t linkOwner, targetOwner; // 0: the user
        bool usable;
    } cases[] = {
        {"the user's link to the user's file", 0, 0, true},
        {"another user's link", 65534, 0, false},
        {"the user's link to another user's file", 0, 65534, false},
    };
    for (const Case &c : cases) {
        if ((c.linkOwner || c.targetOwner) && ::geteuid() != 0) continue;
        TempDir dir;
        dir.write("QQWry.real", "x");
        std::filesystem::create_symlink(dir.file("QQWry.real"), dir.file("QQWry.dat"));
        ASSERT_EQ(::lchown(dir.file("QQWry.dat").c_str(), c.linkOwner ? c.linkOwner : ::geteuid(), gid_t(-1)), 0);
        ASSERT_EQ(::chown(dir.file("QQWry.real").c_str(), c.targetOwner ? c.targetOwner : ::geteuid(), gid_t(-1)), 0);
        EXPECT_EQ(rt::UsableInPlace(dir.file("QQWry.dat")), c.usable) << c.what;
    }
}
#endif

#ifndef _WIN32 // Windows lets no program cut short a file another has open, nor replace it by a rename
TEST(FileCommands, AFileChangedWhileOpenNeverFaultsAndIsReadAnewAtItsNextOpening) {
    TempDir dir;
    std::string old(3 * 4096, 'o');
    dir.write("db", old);
    int32_t kept = Open(dir.file("db"));
    // Another program writes over it in place: cut short first (reads past the new end would fault).
    ASSERT_EQ(::truncate(dir.file("db").c_str(), 0), 0);
    Seek(kept, 1, 8192);
    std::string cut = Read(kept, 4);
    EXPECT_TRUE(cut == "oooo" || cut == std::string(4, '\0')) << "no fault, and no bytes from elsewhere";
    dir.write("db", "new");
    int32_t fresh = Open(dir.file("db"));
    EXPECT_EQ(Read(fresh, 9), "new");
    // Replaced by a rename: the file open before keeps reading what it opened.
    int32_t before = Open(dir.file("db"));
    dir.write("next", "newer");
    std::filesystem::rename(dir.file("next"), dir.file("db"));
    int32_t after = Open(dir.file("db"));
    EXPECT_EQ(Read(before, 9), "new");
    EXPECT_EQ(Read(after, 9), "newer");
    for (int32_t f : {kept, fresh, before, after}) CallUnchecked(cmd::FileClose, ArgInt(f));
}

// A file in the current folder is checked as the user's own and opened on one status read: whatever
// replaces it between two openings is what the second one reads.
TEST(FileCommands, AFileInTheCurrentFolderIsReadAnewWhateverReplacedIt) {
    TempDir dir;
    std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    auto readDb = [] {
        int32_t f = Open("db");
        std::string bytes = f ? Read(f, 9) : "(not opened)";
        CallUnchecked(cmd::FileClose, ArgInt(f));
        return bytes;
    };
    auto stamp = [&](const char *name, time_t seconds) {
        timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ::utimensat(AT_FDCWD, dir.file(name).c_str(), times, AT_SYMLINK_NOFOLLOW);
    };
    dir.write("db", "first");
    stamp("db", 1000000);
    EXPECT_EQ(readDb(), "first");
    struct Step {
        const char *what;
        std::function<void()> replace;
        const char *reads;
    };
    const Step steps[] = {
        {"written over in place, same size",
         [&] {
             dir.write("db", "again");
             stamp("db", 2000000);
         },
         "again"},
        {"replaced by a rename",
         [&] {
             dir.write("next", "renamed");
             std::filesystem::rename(dir.file("next"), dir.file("db"));
         },
         "renamed"},
        {"replaced by a link to a file of the user's own",
         [&] {
             dir.write("target", "linked");
             std::filesystem::remove(dir.file("db"));
             std::filesystem::create_symlink(dir.file("target"), dir.file("db"));
         },
         "linked"},
        {"the link's file written over",
         [&] {
             dir.write("target", "target2");
             stamp("target", 3000000);
         },
         "target2"},
        {"the link replaced by a regular file again",
         [&] {
             std::filesystem::remove(dir.file("db"));
             dir.write("db", "plain");
         },
         "plain"},
    };
    for (const Step &step : steps) {
        step.replace();
        EXPECT_EQ(readDb(), step.reads) << step.what;
    }
    std::filesystem::current_path(here);
}
#endif
