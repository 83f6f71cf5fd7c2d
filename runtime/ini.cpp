#include "ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <sstream>

#include "files.h"
#include "gbk.h"
#include "runtime.h"

namespace rt {
namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The section name of a header line "[name]", or nothing.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = TrimBlanks(line);
    if (line.size() < 2 || line.front() != '[') return std::nullopt;
    // ']' (0x5D) can be the trail byte of a GBK character, so look for it character by character.
    size_t close = std::string_view::npos;
    ForEachGbkChar(line, [&](size_t i, size_t n) {
        if (close == std::string_view::npos && i > 0 && n == 1 && line[i] == ']') close = i;
    });
    if (close == std::string_view::npos) return std::nullopt;
    return TrimBlanks(line.substr(1, close - 1));
}

// The key of an item line "key=value", or nothing for comments and other lines.
std::optional<std::string_view> ItemKey(std::string_view line) {
    std::string_view t = TrimBlanks(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return TrimBlanks(line.substr(0, eq));
}

} // namespace

IniDocument IniDocument::Parse(std::string_view bytes) {
    IniDocument doc;
    if (bytes.empty()) return doc;
    size_t lf = bytes.find('\n');
    doc.newline_ = (lf != std::string_view::npos && lf > 0 && bytes[lf - 1] == '\r') || lf == std::string_view::npos
                       ? "\r\n"
                       : "\n";
    doc.finalNewline_ = bytes.back() == '\n';
    size_t from = 0;
    while (from < bytes.size()) {
        size_t end = bytes.find('\n', from);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(from, end - from);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        doc.lines_.push_back(Line{std::string(line)});
        from = end + 1;
    }
    return doc;
}

size_t IniDocument::FindSection(std::string_view section) const {
    std::string_view wanted = TrimBlanks(section);
    for (size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i].text);
        if (name && GbkEqualsIgnoreCase(*name, wanted)) return i;
    }
    return std::string::npos;
}

size_t IniDocument::SectionEnd(size_t header) const {
    size_t end = header + 1;
    for (size_t i = header + 1; i < lines_.size() && !SectionName(lines_[i].text); ++i)
        if (!TrimBlanks(lines_[i].text).empty()) end = i + 1;
    return end;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    size_t header = FindSection(section);
    if (header == std::string::npos) return std::nullopt;
    std::string_view wanted = TrimBlanks(key);
    for (size_t i = header + 1; i < lines_.size() && !SectionName(lines_[i].text); ++i) {
        auto k = ItemKey(lines_[i].text);
        if (!k || !GbkEqualsIgnoreCase(*k, wanted)) continue;
        std::string_view line = lines_[i].text;
        std::string_view value = TrimBlanks(line.substr(line.find('=') + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return std::nullopt;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string v(value);
    for (char &c : v)
        if (c == '\r' || c == '\n') c = ' ';
    std::string item = std::string(TrimBlanks(key)) + "=" + v;
    size_t header = FindSection(section);
    if (header == std::string::npos) {
        lines_.push_back(Line{"[" + std::string(TrimBlanks(section)) + "]"});
        lines_.push_back(Line{item});
        return;
    }
    std::string_view wanted = TrimBlanks(key);
    for (size_t i = header + 1; i < lines_.size() && !SectionName(lines_[i].text); ++i) {
        auto k = ItemKey(lines_[i].text);
        if (k && GbkEqualsIgnoreCase(*k, wanted)) {
            lines_[i].text = item;
            return;
        }
    }
    lines_.insert(lines_.begin() + std::ptrdiff_t(SectionEnd(header)), Line{item});
}

std::string IniDocument::Serialize() const {
    std::string out;
    for (size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i].text;
        if (i + 1 < lines_.size() || finalNewline_) out += newline_;
    }
    return out;
}

namespace {

std::optional<std::string> ReadWholeFile(const std::string &path) {
    int fd = OpenExisting(path, O_RDONLY);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buf, size_t(n));
    }
    ::close(fd);
    return bytes;
}

} // namespace

std::string ReadProfileString(const std::string &path, std::string_view section, std::string_view key) {
    auto bytes = ReadWholeFile(path);
    if (!bytes) return {};
    return IniDocument::Parse(*bytes).Get(section, key).value_or(std::string());
}

bool WriteProfileString(const std::string &path, std::string_view section, std::string_view key,
                        std::string_view value) {
    auto bytes = ReadWholeFile(path);
    IniDocument doc = IniDocument::Parse(bytes.value_or(std::string()));
    doc.Set(section, key, value);
    std::string out = doc.Serialize();

    std::string temporary = path + ".tmp" + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t written = 0;
    while (written < out.size()) {
        ssize_t n = ::write(fd, out.data() + written, out.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += size_t(n);
    }
    bool ok = written == out.size() && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

namespace {

// 0x8c8: read a configuration item (file, section, key, default); missing reads as the default or "".
RtResult ReadItem(Args &a) {
    auto bytes = ReadWholeFile(NativePath(a.text(0)));
    std::optional<std::string> v;
    if (bytes) v = IniDocument::Parse(*bytes).Get(a.text(1), a.text(2));
    return ResultOfText(v ? std::string_view(*v) : a.text(3));
}

// 0x8cc: write a configuration item (file, section, key, value); true when written.
RtResult WriteItem(Args &a) {
    return ResultOfBool(WriteProfileString(NativePath(a.text(0)), a.text(1), a.text(2), a.text(3)));
}

} // namespace

void AddConfigCommands(CommandTable &table) {
    table.add(0x8c8, ReadItem);
    table.add(0x8cc, WriteItem);
}

} // namespace rt
