// Configuration items: keys of INI files, read and written through the one capped reader and the
// one atomic writer.
#include <map>
#include <mutex>

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

// What this process last read from each item, or last asked to write to it. A value written that
// extends it (the history with one more entry) adds only that extension to what the file holds now,
// so copies of the program saving at once, each from the list it loaded, lose nothing of the others'.
// Any other value (a cleared history, another setting) replaces the item's.
class SeenValues {
  public:
    void Remember(const std::string &item, std::string value) {
        std::lock_guard lock(mutex_);
        values_[item] = std::move(value);
    }
    // The value to write when the file holds `current` and the caller asks for `wanted`.
    std::string Merge(const std::string &item, std::string_view current, std::string_view wanted) {
        std::lock_guard lock(mutex_);
        auto seen = values_.find(item);
        if (seen == values_.end() || !wanted.starts_with(seen->second)) return std::string(wanted);
        return std::string(current) + std::string(wanted.substr(seen->second.size()));
    }

  private:
    std::mutex mutex_;
    std::map<std::string, std::string> values_;
};

SeenValues &Seen() {
    static SeenValues seen;
    return seen;
}

// One item of one file: names compare without regard to ASCII case, as the file's do.
std::string ItemName(const std::string &path, std::string_view section, std::string_view key) {
    return path + '\0' + GbkUpper(section) + '\0' + GbkUpper(key);
}

// The configuration file a command names, where this user keeps it.
std::string ItemFile(Args &a) {
    Runtime &runtime = a.runtime();
    return FindExisting(UserFile(NativePath(a.text(0)), runtime.ProgramFolder(), runtime.product().folder));
}

// ReadConfigItem: read a configuration item (file, section, key, default); missing reads as the default or "".
RtResult ReadItem(Args &a) {
    std::string path = ItemFile(a);
    auto bytes = ReadConfigFile(path);
    std::optional<std::string> v;
    if (bytes) {
        v = IniDocument::Parse(*bytes).Get(a.text(1), a.text(2));
        Seen().Remember(ItemName(path, a.text(1), a.text(2)), v.value_or(std::string()));
    }
    return ResultOfText(v ? std::string_view(*v) : a.text(3));
}

// WriteConfigItem: write a configuration item (file, section, key, value), creating the file and section when
// missing; true when written.
RtResult WriteItem(Args &a) {
    std::string path = ItemFile(a);
    // Copies of the program change the file one after the other, each reading what the others wrote.
    os::FileLock lock(path, a.runtime().product().folder);
    if (lock.held()) io::RemoveLeftoverTemporaries(path); // of saves that were killed
    auto bytes = ReadConfigFile(path);
    if (!bytes) return ResultOfBool(false);
    IniDocument doc = IniDocument::Parse(*bytes);
    std::string item = ItemName(path, a.text(1), a.text(2));
    doc.Set(a.text(1), a.text(2), Seen().Merge(item, doc.Get(a.text(1), a.text(2)).value_or(""), a.text(3)));
    if (!io::WriteFileAtomic(path, doc.Serialize())) return ResultOfBool(false);
    lock.Replaced();
    Seen().Remember(item, std::string(a.text(3)));
    return ResultOfBool(true);
}

} // namespace

void AddConfigCommands(CommandTable &table) {
    table.add(cmd::ReadConfigItem, ReadItem);
    table.add(cmd::WriteConfigItem, WriteItem);
}

} // namespace rt
