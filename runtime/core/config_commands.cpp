// Configuration items: keys of INI files, read and written through the one capped reader and the
// one atomic writer.
#include "files.h"
#include "formats/ini/ini.h"
#include "formats/io/io.h"
#include "os.h"
#include "runtime.h"

namespace rt {
namespace {

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
    os::FolderLock lock(path);
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
