#include <dlfcn.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <spawn.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/io/io.h"
#include "platform.h"

extern char **environ;

namespace launcher {
namespace {

// The process's capability sets (version 3: two words each).
struct Capabilities {
    __user_cap_data_struct data[2] = {};
    bool Any() const {
        for (const auto &d : data)
            if (d.effective || d.permitted || d.inheritable) return true;
        return false;
    }
    // Any capability but this one.
    bool HasOtherThan(int cap) const {
        Capabilities c = *this;
        c.data[cap / 32].effective &= ~(1u << (cap % 32));
        c.data[cap / 32].permitted &= ~(1u << (cap % 32));
        c.data[cap / 32].inheritable &= ~(1u << (cap % 32));
        return c.Any();
    }
};

bool GetCapabilities(Capabilities &c) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, c.data) == 0;
}

bool ClearCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    return ::syscall(SYS_capset, &header, none) == 0;
}

// Whether any capability is in the ambient set (which capget does not show).
bool AnyAmbient() {
    for (int cap = 0; cap < 64; ++cap) {
        int set = ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, cap, 0, 0);
        if (set < 0) return false; // past the last capability this kernel knows
        if (set > 0) return true;
    }
    return false;
}

// Real ids for every slot, no capability in any set: verified, not assumed. No-new-privileges is
// left alone on purpose: it would keep the ICMP helper from getting its own right when started.
bool DropForGood() {
    uid_t ruid, euid, suid;
    gid_t rgid, egid, sgid;
    if (::getresuid(&ruid, &euid, &suid) != 0 || ::getresgid(&rgid, &egid, &sgid) != 0) return false;
    if (::setresgid(rgid, rgid, rgid) != 0 || ::setresuid(ruid, ruid, ruid) != 0) return false;
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) return false;
    if (!ClearCapabilities()) return false;
    Capabilities left;
    if (!GetCapabilities(left) || left.Any() || AnyAmbient()) return false;
    if (::getresuid(&ruid, &euid, &suid) != 0 || euid != ruid || suid != ruid) return false;
    return ::getresgid(&rgid, &egid, &sgid) == 0 && egid == rgid && sgid == rgid;
}

bool IsPrivateFolder(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::string Absolute(const char *name) {
    const char *v = std::getenv(name);
    std::string dir = v && v[0] == '/' ? v : "";
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

// The first back.size() bytes of the file.
bool ReadAllAt(int fd, std::span<uint8_t> back) {
    for (size_t got = 0; got < back.size();) {
        ssize_t n = ::pread(fd, back.data() + got, back.size() - got, off_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += size_t(n);
    }
    return true;
}

// A sealed in-memory file holding the bytes: nothing can change them once it is made.
int SealedCopy(std::span<const uint8_t> bytes) {
    int fd = int(::syscall(SYS_memfd_create, "rtcore", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (fd < 0) return -1;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        done += ok ? size_t(n) : 0;
    }
    // Sealed first, then compared: what was checked is what stays.
    ok = ok && ::fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0;
    std::vector<uint8_t> back(ok ? bytes.size() : 0);
    ok = ok && ReadAllAt(fd, back);
    if (ok && std::equal(back.begin(), back.end(), bytes.begin())) return fd;
    int cause = ok ? EIO : errno;
    ::close(fd);
    errno = cause;
    return -1;
}

} // namespace

Outcome<Done> DropRaisedRights() {
    uid_t ruid, euid, suid;
    gid_t rgid, egid, sgid;
    ::getresuid(&ruid, &euid, &suid);
    ::getresgid(&rgid, &egid, &sgid);
    Capabilities caps;
    bool known = GetCapabilities(caps);
    bool raisedIds = euid != ruid || suid != ruid || egid != rgid || sgid != rgid;
    // Capabilities come from the file (a secure start) or with the process itself (an inheritable or
    // ambient set, as `capsh --addamb` gives): the program empties them all either way.
    if (!raisedIds && known && !caps.Any() && !AnyAmbient()) return Done{};
    // Root's own capabilities are no raise: root started it, and root stays what it was.
    if (!raisedIds && ruid == 0) return Done{};
    // How the start was raised decides only whether it is refused: judged before the drop.
    bool secure = ::getauxval(AT_SECURE) != 0;
    bool setuidRoot = euid == 0 && ruid != 0 && egid == rgid;
    bool netRawOnly = known && !raisedIds && !caps.HasOtherThan(CAP_NET_RAW);
    if (!DropForGood()) return Failure{Error::ElevatedStart, "the rights could not be dropped"};
    if (secure && !setuidRoot && !netRawOnly) return Failure{Error::ElevatedStart, {}};
    return Done{};
}

Outcome<std::string> OwnPath() {
    std::string buffer(kMaxPath + 1, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || size_t(n) > kMaxPath) return Failure{Error::CantOpen, {}};
    buffer.resize(size_t(n));
    return buffer;
}

Outcome<int> OpenForReading(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Failure{Error::CantOpen, {}};
    return fd;
}
void CloseFile(int fd) { ::close(fd); }

Outcome<ExtractionFolder> PrivateFolder(const std::string &name) {
    std::string base = Absolute("XDG_RUNTIME_DIR"), folder;
    if (!base.empty() && IsPrivateFolder(base)) {
        folder = base + "/" + name;
    } else {
        base = Absolute("TMPDIR");
        if (base.empty()) base = "/tmp";
        folder = base + "/" + name + "-" + std::to_string(::geteuid());
    }
    if (folder.size() + 16 > kMaxPath) return Failure{Error::NoTempDir, "path too long"};
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return Failure{Error::NoTempDir, std::strerror(errno)};
    if (IsPrivateFolder(folder)) return ExtractionFolder{folder, false};
    // Taken by someone else, or not safe: a fresh folder of our own beside it.
    std::string made = folder + "-XXXXXX";
    if (!::mkdtemp(made.data())) return Failure{Error::NoTempDir, std::strerror(errno)};
    return ExtractionFolder{made, true};
}

void RemoveFreshFolder(const std::string &folder) {
    // The folder is this process's own (mkdtemp, 0700): nobody else put anything into it.
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

Outcome<Done> WriteExtractedFile(const std::string &folder, const std::string &name, std::span<const uint8_t> content) {
    errno = 0;
    // Made again at every start: not synced, which would cost more than the whole start.
    if (rt::io::WriteFileAtomic(folder + "/" + name, content, 0600, rt::io::Durability::Unsynced)) return Done{};
    return Failure{Error::WriteFailed, std::strerror(errno ? errno : EIO)};
}

Outcome<void *> LoadVerifiedLibrary(const std::string &path, std::span<const uint8_t> expected) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return Failure{Error::LoadFailed, std::strerror(errno)};
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
              (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 && uint64_t(st.st_size) == expected.size();
    std::vector<uint8_t> bytes(ok ? expected.size() : 0);
    ok = ok && ReadAllAt(fd, bytes);
    ok = ok && std::equal(bytes.begin(), bytes.end(), expected.begin());
    ::close(fd);
    if (!ok) return Failure{Error::LoadFailed, path + " is not the file the program wrote"};
    // Loaded from a sealed copy in memory, never from a mapping of the file: the user owns the file,
    // and a write into it would change the code of a running copy (a private mapping shows the
    // file's pages until they are copied), code that would then run with whatever the process holds.
    int sealed = SealedCopy(expected);
    if (sealed < 0)
        return Failure{Error::LoadFailed,
                       std::string("the runtime library cannot be held in sealed memory: ") + std::strerror(errno)};
    // The loader knows objects by their path too, so each load gets a descriptor number of its own.
    static int next = 200;
    int numbered = ::fcntl(sealed, F_DUPFD_CLOEXEC, next++);
    int cause = errno;
    ::close(sealed);
    if (numbered < 0) return Failure{Error::LoadFailed, std::strerror(cause)};
    std::string through = "/proc/self/fd/" + std::to_string(numbered);
    void *library = ::dlopen(through.c_str(), RTLD_NOW | RTLD_LOCAL);
    const char *said = library ? nullptr : ::dlerror();
    std::string why = said ? said : "";
    ::close(numbered);
    if (library) return library;
    // The loader names the descriptor it was given; the user knows the file.
    if (why.rfind(through + ": ", 0) == 0) why.replace(0, through.size(), path);
    return Failure{Error::LoadFailed, why};
}

Outcome<void *> FindSymbol(void *library, const char *name) {
    void *symbol = ::dlsym(library, name);
    if (!symbol) return Failure{Error::InvalidKernel, {}};
    return symbol;
}

void ShowErrorBox(std::string_view message) {
    auto set = [](const char *name) {
        const char *v = std::getenv(name);
        return v && *v;
    };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) return;
    // A dialog through the desktop's usual tools, whichever is installed; nothing if none is.
    std::string text(message);
    const char *const tools[][6] = {
        {"zenity", "--error", "--title=Error", "--text", text.c_str(), nullptr},
        {"kdialog", "--title", "Error", "--error", text.c_str(), nullptr},
        {"xmessage", "-center", "-title", "Error", text.c_str(), nullptr},
    };
    // The tools' own complaints (no such display, say) stay out of the program's output.
    posix_spawn_file_actions_t quiet;
    ::posix_spawn_file_actions_init(&quiet);
    ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    for (const auto &argv : tools) {
        pid_t pid;
        if (::posix_spawnp(&pid, argv[0], &quiet, nullptr, const_cast<char *const *>(argv), environ) != 0) continue;
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) break;
    }
    ::posix_spawn_file_actions_destroy(&quiet);
}

} // namespace launcher
