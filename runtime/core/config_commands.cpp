// Configuration items: keys of INI files, read and written through the one capped reader and the
// one atomic writer.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "files.h"
#include "formats/ini/ini.h"
#include "formats/io/io.h"
#include "runtime.h"

namespace rt {
namespace {

// An exclusive lock on the folder that holds a file, held while the file is read, changed and
// replaced (the file itself is replaced, so it cannot carry the lock).
class FolderLock {
  public:
    explicit FolderLock(const std::string &file) {
        fd_ = ::open(io::FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_); // closing releases the lock
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

  private:
    int fd_ = -1;
};

// A configuration file larger than this is not read, and never replaced by a cut copy.
constexpr size_t kMaxConfigFile = 16u << 20;

// The file's bytes: empty when it is missing or not a regular file; nothing when it exists but
// cannot be read whole (then it must not be rewritten either).
std::optional<std::string> ReadConfigFile(const std::string &path) {
    auto bytes = io::ReadFile(path, kMaxConfigFile);
    if (bytes) return std::move(*bytes);
    if (bytes.error() == io::Error::Missing || bytes.error() == io::Error::NotRegular) return std::string();
    return std::nullopt;
}

// ReadConfigItem: read a configuration item (file, section, key, default); missing reads as the default or "".
RtResult ReadItem(Args &a) {
    auto bytes = ReadConfigFile(FindExisting(UserFile(NativePath(a.text(0)), a.runtime().ProgramFolder())));
    std::optional<std::string> v;
    if (bytes) v = IniDocument::Parse(*bytes).Get(a.text(1), a.text(2));
    return ResultOfText(v ? std::string_view(*v) : a.text(3));
}

// WriteConfigItem: write a configuration item (file, section, key, value), creating the file and section when
// missing; true when written.
RtResult WriteItem(Args &a) {
    std::string path = FindExisting(UserFile(NativePath(a.text(0)), a.runtime().ProgramFolder()));
    // Two copies of the program change the file one after the other, each reading what the other wrote.
    FolderLock lock(path);
    auto bytes = ReadConfigFile(path);
    if (!bytes) return ResultOfBool(false);
    IniDocument doc = IniDocument::Parse(*bytes);
    doc.Set(a.text(1), a.text(2), a.text(3));
    return ResultOfBool(io::WriteFileAtomic(path, doc.Serialize()).ok());
}

} // namespace

void AddConfigCommands(CommandTable &table) {
    table.add(cmd::ReadConfigItem, ReadItem);
    table.add(cmd::WriteConfigItem, WriteItem);
}

} // namespace rt
