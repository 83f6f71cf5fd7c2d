// Configuration items with the semantics of Windows private profile files.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <algorithm>

#include "host_fixture.h"
#include "formats/ini/ini.h"
#include "history_file.h"
#include "temp_dir.h"

using namespace rt::testing;

namespace {

std::string ReadItem(const std::string &path, const char *section, const char *key) {
    return TakeText(
        CallUnchecked(cmd::ReadConfigItem, ArgText(path.c_str()), ArgText(section), ArgText(key), ArgOmitted()));
}
bool WriteItem(const std::string &path, const char *section, const char *key, const char *value) {
    return ResultInt(CallUnchecked(cmd::WriteConfigItem, ArgText(path.c_str()), ArgText(section), ArgText(key),
                                   ArgText(value))) != 0;
}

} // namespace

TEST(ConfigItems, MissingFileSectionOrKeyReadsEmpty) {
    TempDir dir;
    EXPECT_EQ(ReadItem(dir.file("none.ini"), K_HistorySection, "url"), "");
    EXPECT_FALSE(dir.exists("none.ini")) << "reading creates nothing";
    dir.write("a.ini", "[other]\r\nurl=x\r\n");
    EXPECT_EQ(ReadItem(dir.file("a.ini"), K_HistorySection, "url"), "");
    EXPECT_EQ(ReadItem(dir.file("a.ini"), "other", "key"), "");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::ReadConfigItem, ArgText(dir.file("a.ini").c_str()), ArgText("other"),
                                     ArgText("nokey"), ArgText("fallback"))),
              "fallback");
}

TEST(ConfigItems, WriteCreatesFileAndSectionAndKeepsTheRest) {
    TempDir dir;
    std::string path = dir.file("lsjl.ini");
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "a|b|"));
    EXPECT_EQ(dir.read("lsjl.ini"), HistoryFile("a|b|"));
    EXPECT_EQ(ReadItem(path, K_HistorySection, "url"), "a|b|");

    dir.write("lsjl.ini", std::string("; comment\n[keep]\nk = v\n\n[") + K_HistorySection + "]\nurl=old\nother=1\n");
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "URL", "new|"));
    EXPECT_EQ(dir.read("lsjl.ini"),
              std::string("; comment\n[keep]\nk = v\n\n[") + K_HistorySection + "]\nURL=new|\nother=1\n")
        << "the value is replaced in place, every other line kept, LF kept";
    ASSERT_TRUE(WriteItem(path, "keep", "added", "2"));
    EXPECT_EQ(ReadItem(path, "KEEP", "added"), "2");
    EXPECT_EQ(ReadItem(path, "keep", "k"), "v");
    EXPECT_EQ(dir.read("lsjl.ini").find("k = v\nadded=2\n\n["), 17u) << "a new key goes after the section's last item";
}

TEST(ConfigItems, ValuesAreTrimmedUnquotedAndNeverSplitLines) {
    rt::IniDocument doc = rt::IniDocument::Parse("[s]\nq = \"quoted value\" \nempty=\nsp=  a b  \n");
    EXPECT_EQ(doc.Get("s", "q"), "quoted value");
    EXPECT_EQ(doc.Get("s", "empty"), "");
    EXPECT_EQ(doc.Get("s", "sp"), "a b");
    doc.Set("s", "inject", "x\r\n[evil]\nk=v");
    EXPECT_FALSE(rt::IniDocument::Parse(doc.Serialize()).Get("evil", "k")) << "line breaks in a value stay in it";
}

TEST(ConfigItems, GbkNamesCompareBytewiseAndBracketTrailBytesDoNotEndASection) {
    // "\x81\x5D" is a GBK character whose trail byte is ']'.
    std::string section = "\x81\x5D\xCA\xB7";
    rt::IniDocument doc = rt::IniDocument::Parse("[" + section + "]\nurl=1\n[\x81\x7D]\nurl=2\n");
    EXPECT_EQ(doc.Get(section, "url"), "1");
    EXPECT_EQ(doc.Get("\x81\x5D", "url"), std::nullopt);
    EXPECT_EQ(doc.Get("\x81\x5D\xCA\xB7", "URL"), "1");
    // Upper-casing must not merge two different characters whose trail bytes differ in case only.
    EXPECT_EQ(doc.Get("\x81\x5D", "url"), std::nullopt);
    EXPECT_EQ(rt::IniDocument::Parse("[\x81\x61]\nk=1\n").Get("\x81\x41", "k"), std::nullopt);
}

TEST(ConfigItems, MalformedFilesReadWithoutFault) {
    const std::string junk[] = {
        std::string("\0\0\0[", 4),
        "[",
        "[]",
        "[unterminated\nurl=1",
        "=",
        "==\n[s]\n=x\n",
        "\r\r\r\n\n",
        std::string(100000, '['),
        "[s]\nurl",
        std::string("[s]\nurl=a\0b\n", 12),
        "\xFF\xFE[s]\nurl=1",
    };
    for (const std::string &bytes : junk) {
        rt::IniDocument doc = rt::IniDocument::Parse(bytes);
        (void)doc.Get("s", "url");
        doc.Set("s", "url", "v");
        EXPECT_EQ(rt::IniDocument::Parse(doc.Serialize()).Get("s", "url"), "v");
    }
    TempDir dir;
    dir.write("bad.ini", std::string("\x01\x02[\x81", 4));
    EXPECT_EQ(ReadItem(dir.file("bad.ini"), K_HistorySection, "url"), "");
    EXPECT_TRUE(WriteItem(dir.file("bad.ini"), K_HistorySection, "url", "x|"));
    EXPECT_EQ(ReadItem(dir.file("bad.ini"), K_HistorySection, "url"), "x|");
}

TEST(ConfigItems, FailedWriteLosesNothing) {
    TempDir dir;
    std::string path = dir.file("ro/lsjl.ini");
    EXPECT_FALSE(WriteItem(path, K_HistorySection, "url", "a|")) << "a folder that does not exist";
    std::filesystem::create_directory(dir.path() / "ro");
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "a|"));
#ifndef _WIN32
    if (::geteuid() != 0) { // root writes anywhere
        std::filesystem::permissions(dir.path() / "ro",
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_FALSE(WriteItem(path, K_HistorySection, "url", "b|"));
        EXPECT_EQ(ReadItem(path, K_HistorySection, "url"), "a|");
        std::filesystem::permissions(dir.path() / "ro", std::filesystem::perms::owner_all);
    }
#endif
}

#ifndef _WIN32 // FIFOs, devices, links, modes and fork: the POSIX backend's cases
TEST(ConfigItems, OnlyRegularFilesAreReadAndNothingBeyondTheCapIsReplaced) {
    TempDir dir;
    // A FIFO would block the start for ever, /dev/zero never ends: both read as a missing file.
    ASSERT_EQ(::mkfifo(dir.file("fifo.ini").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.ini"));
    for (const char *name : {"fifo.ini", "zero.ini"})
        EXPECT_EQ(ReadItem(dir.file(name), K_HistorySection, "url"), "") << name;
    // A history beyond what the program reads is left as it is, not replaced by a cut copy.
    std::string huge = HistoryFile(std::string(17u << 20, 'x'));
    dir.write("huge.ini", huge);
    EXPECT_FALSE(WriteItem(dir.file("huge.ini"), K_HistorySection, "url", "a|"));
    EXPECT_EQ(dir.read("huge.ini").size(), huge.size());
}

TEST(ConfigItems, TheFileIsReplacedWithoutFollowingALinkAndKeepsItsMode) {
    TempDir dir;
    std::string path = dir.file("lsjl.ini");
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "a|"));
    ::chmod(path.c_str(), 0600);
    // Links planted where a temporary file could be made point at a file that must not change.
    dir.write("victim", "keep");
    for (const std::string &name : {std::string("lsjl.ini.tmp"), "lsjl.ini.tmp" + std::to_string(::getpid())})
        std::filesystem::create_symlink(dir.file("victim"), dir.file(name));
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "b|"));
    EXPECT_EQ(dir.read("victim"), "keep");
    EXPECT_EQ(ReadItem(path, K_HistorySection, "url"), "b|");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the old file's mode";
}

TEST(ConfigItems, TwoCopiesWritingAtOnceLoseNothing) {
    TempDir dir;
    std::string path = dir.file("lsjl.ini");
    constexpr int kKeys = 100;
    pid_t child = ::fork();
    if (child == 0) { // another copy of the program
        for (int i = 0; i < kKeys; ++i) WriteItem(path, K_HistorySection, ("child" + std::to_string(i)).c_str(), "c");
        std::_Exit(0);
    }
    for (int i = 0; i < kKeys; ++i) WriteItem(path, K_HistorySection, ("parent" + std::to_string(i)).c_str(), "p");
    ::waitpid(child, nullptr, 0);
    for (int i = 0; i < kKeys; ++i) {
        EXPECT_EQ(ReadItem(path, K_HistorySection, ("child" + std::to_string(i)).c_str()), "c") << i;
        EXPECT_EQ(ReadItem(path, K_HistorySection, ("parent" + std::to_string(i)).c_str()), "p") << i;
    }
}
// The history as two copies of the program save it at once: each from the list it loaded at its
// start, one target more at every save.
TEST(ConfigItems, TwoCopiesSavingTheHistoryAtOnceKeepEveryEntry) {
    TempDir dir;
    std::string path = dir.file("lsjl.ini");
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "first|"));
    constexpr int kSaves = 40;
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready) | ::pipe(go), 0);
    pid_t copies[2];
    for (int c = 0; c < 2; ++c) {
        copies[c] = ::fork();
        if (copies[c] == 0) {
            ::close(go[1]);
            std::string list = ReadItem(path, K_HistorySection, "url"); // what its window loaded
            char byte = 0;
            if (::write(ready[1], &byte, 1) != 1 || ::read(go[0], &byte, 1) != 0) std::_Exit(2); // both loaded first
            for (int i = 0; i < kSaves; ++i) {
                list += "copy" + std::to_string(c) + "-" + std::to_string(i) + "|";
                if (!WriteItem(path, K_HistorySection, "url", list.c_str())) std::_Exit(1);
            }
            std::_Exit(0);
        }
    }
    char byte;
    for (int c = 0; c < 2; ++c) ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(go[1]);
    for (pid_t copy : copies) {
        int status = -1;
        ::waitpid(copy, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int fd : {ready[0], ready[1], go[0]}) ::close(fd);
    std::string saved = ReadItem(path, K_HistorySection, "url");
    EXPECT_EQ(saved.rfind("first|", 0), 0u) << saved;
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '|'), 1 + 2 * kSaves) << saved;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kSaves; ++i)
            EXPECT_NE(saved.find("copy" + std::to_string(c) + "-" + std::to_string(i) + "|"), std::string::npos)
                << c << " " << i;
    // Clearing still clears: a value that does not extend what this copy saw replaces the item.
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "reset|"));
    EXPECT_EQ(ReadItem(path, K_HistorySection, "url"), "reset|");
}

// A copy that kept only the newest entries of a long history writes them back with its new target;
// what another copy added meanwhile stays, between the two.
TEST(ConfigItems, ACopyThatDroppedTheOldestEntriesKeepsWhatAnotherCopyAdded) {
    TempDir dir;
    std::string path = dir.file("lsjl.ini");
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "old|a|b|"));
    ASSERT_EQ(ReadItem(path, K_HistorySection, "url"), "old|a|b|"); // what this copy loaded
    pid_t other = ::fork();
    if (other == 0) std::_Exit(WriteItem(path, K_HistorySection, "url", "old|a|b|other|") ? 0 : 1);
    int status = -1;
    ::waitpid(other, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "a|b|new|"));
    EXPECT_EQ(ReadItem(path, K_HistorySection, "url"), "a|b|other|new|");
}

// A save that cannot have its lock (another copy of the user's keeps it) waits, then writes nothing.
TEST(ConfigItems, ASaveWithoutItsLockWritesNothing) {
    TempDir dir, runtime;
    ::chmod(runtime.path().c_str(), 0700);
    const char *was = std::getenv("XDG_RUNTIME_DIR");
    std::string saved = was ? was : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    std::string path = dir.file("lsjl.ini");
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "a|"));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    char key[64];
    std::snprintf(key, sizeof key, "/lock-f-%llx-%llx", (unsigned long long)st.st_dev, (unsigned long long)st.st_ino);
    std::string lock = runtime.file(rt::Runtime::Instance().product().folder) + key;
    int held = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_FALSE(WriteItem(path, K_HistorySection, "url", "a|b|")) << "saved without the lock";
    ::close(held);
    EXPECT_EQ(ReadItem(path, K_HistorySection, "url"), "a|");
    if (was) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
}

// In a program folder a group may write (2775): a link planted at the history's name, or another
// user's set-id executable under it, lends the history neither its bytes nor its mode.
TEST(ConfigItems, ALinkOrAPlantedFileLendsTheHistoryNeitherItsBytesNorItsMode) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 02775);
    std::string path = dir.file("lsjl.ini");
    const std::string secret = HistoryFile("secret|");
    dir.write("private", secret);
    ::chmod(dir.file("private").c_str(), 0600);
    std::filesystem::create_symlink(dir.file("private"), path);
    EXPECT_EQ(ReadItem(path, K_HistorySection, "url"), "") << "a link reads as a missing file";
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "a|"));
    EXPECT_EQ(dir.read("private"), secret) << "never written through";
    EXPECT_EQ(ReadItem(path, K_HistorySection, "url"), "a|");
    struct stat st;
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));

    mode_t mask = ::umask(0);
    ::umask(mask);
    struct Case {
        const char *what;
        uid_t owner;
        mode_t mode, expected;
    } cases[] = {
        {"the user's own: its read and write bits", ::geteuid(), 06777, 0666},
        {"another user's set-id executable: the default", 65534, 04755, 0644 & ~mask},
    };
    for (const Case &c : cases) {
        if (c.owner != ::geteuid() && ::geteuid() != 0) continue; // giving a file away needs root
        std::filesystem::remove(path);
        dir.write("lsjl.ini", secret);
        ASSERT_EQ(::chown(path.c_str(), c.owner, uid_t(-1)), 0) << c.what;
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0) << c.what;
        ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "b|")) << c.what;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.expected) << c.what;
        EXPECT_EQ(st.st_uid, ::geteuid()) << c.what;
    }
}

// A save killed before its rename (here by the file size limit, at its first write) leaves a
// temporary file nobody else can open, in a sticky shared folder too; the next save removes it.
TEST(ConfigItems, AKilledSaveLeavesOnlyAPrivateTemporaryFileThatTheNextSaveRemoves) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 01777);
    std::string path = dir.file("lsjl.ini");
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "a|"));
    ::chmod(path.c_str(), 0666); // open to everyone: the user's own choice, kept
    pid_t save = ::fork();
    if (save == 0) {
        rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
        ::setrlimit(RLIMIT_FSIZE, &none);
        WriteItem(path, K_HistorySection, "url", "a|b|");
        std::_Exit(0);
    }
    int status = 0;
    ::waitpid(save, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
    auto leftovers = [&] {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind("lsjl.ini.", 0) == 0) names.push_back(e.path().string());
        return names;
    };
    std::vector<std::string> left = leftovers();
    ASSERT_EQ(left.size(), 1u);
    struct stat st;
    ASSERT_EQ(::stat(left[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "private while it is written";

    std::string foreign = path + ".0123456789abcdef.tmp"; // another user's is not this user's to remove
    if (::geteuid() == 0) {
        dir.write("lsjl.ini.0123456789abcdef.tmp", "x");
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    }
    ASSERT_TRUE(WriteItem(path, K_HistorySection, "url", "a|c|"));
    EXPECT_FALSE(std::filesystem::exists(left[0]));
    EXPECT_EQ(leftovers(), ::geteuid() == 0 ? std::vector<std::string>{foreign} : std::vector<std::string>{});
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
}

// Anyone who can read the program's folder can lock it: a save takes no lock there.
TEST(ConfigItems, ALockOnTheFolderHeldByAnyoneElseNeverHoldsUpASave) {
    TempDir dir;
    std::string path = dir.file("lsjl.ini");
    int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(folder, LOCK_EX), 0);
    pid_t save = ::fork();
    if (save == 0) {
        ::alarm(120); // a watchdog only: a save that waits for the folder's lock waits for ever
        std::_Exit(WriteItem(path, K_HistorySection, "url", "a|") ? 0 : 1);
    }
    int status = -1;
    ::waitpid(save, &status, 0);
    ::close(folder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(ReadItem(path, K_HistorySection, "url"), "a|");
}
#endif
