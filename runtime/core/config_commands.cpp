// Configuration items: keys of INI files, read and written through the one capped reader and the
// one atomic writer.
#include <cstdio>
#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

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

// The length of the longest end of `value` that `next` starts with: a prefix-function match of
// `next` over the last |next| bytes of `value`, so the time is that of `next`, however long `value`.
size_t LongestTailPrefix(std::string_view value, std::string_view next) {
    if (next.empty()) return 0;
    std::vector<size_t> border(next.size(), 0); // of each prefix of next: its longest proper border
    for (size_t i = 1, k = 0; i < next.size(); ++i) {
        while (k > 0 && next[i] != next[k]) k = border[k - 1];
        if (next[i] == next[k]) ++k;
        border[i] = k;
    }
    size_t matched = 0;
    for (char c : value.substr(value.size() - std::min(value.size(), next.size()))) {
        while (matched > 0 && (matched == next.size() || next[matched] != c)) matched = border[matched - 1];
        if (next[matched] == c) ++matched;
    }
    return matched;
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
        if (seen == values_.end()) return std::string(wanted);
        const std::string &was = seen->second;
        if (wanted.starts_with(was)) return std::string(current) + std::string(wanted.substr(was.size()));
        // The caller dropped the oldest part of what it read (a history keeps its newest entries):
        // `wanted` is a tail of that value and an extension. What another copy added since stays.
        size_t kept = LongestTailPrefix(was, wanted);
        if (kept == 0 || !current.starts_with(was)) return std::string(wanted);
        return std::string(current.substr(was.size() - kept)) + std::string(wanted.substr(kept));
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

// Says on standard error that the file was left as it was: no lock of this user's could be had.
void NotSaved(Runtime &runtime, const std::string &path) {
    std::fprintf(stderr,
                 "%s: %s was not saved: its lock could not be had (another copy of the program kept it, "
                 "or no folder of this user's could hold it)\n",
                 runtime.product().name.c_str(), path.c_str());
    std::fflush(stderr);
}

// ReadConfigItem: read a configuration item (file, section, key, default); missing reads as the default or "".
RtResult ReadItem(Args &a) {
    std::string path = ItemFile(a);
    auto bytes = ReadConfigFile(path);
    if (!bytes) return ResultOfText(a.text(3));
    std::optional<std::string> v = IniDocument::Parse(*bytes).Get(a.text(1), a.text(2));
    bytes.reset(); // a history may be megabytes long: no more copies of it at once than needed
    RtResult result = ResultOfText(v ? std::string_view(*v) : a.text(3));
    Seen().Remember(ItemName(path, a.text(1), a.text(2)), std::move(v).value_or(std::string()));
    return result;
}

// WriteConfigItem: write a configuration item (file, section, key, value), creating the file and section when
// missing; true when written.
RtResult WriteItem(Args &a) {
    std::string path = ItemFile(a);
    // Copies of the program change the file one after the other, each reading what the others wrote.
    os::FileLock lock(path, a.runtime().product().folder);
    if (!lock.held()) { // saving anyway could lose what another copy saves at the same time
        NotSaved(a.runtime(), path);
        return ResultOfBool(false);
    }
    io::RemoveLeftoverTemporaries(path); // of saves that were killed
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
