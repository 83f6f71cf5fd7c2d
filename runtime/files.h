// Files opened by the image's code, by file number.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rt {

// A Windows-style path as the image writes it (".\QQWry.dat", "folder\lsjl.ini") made native:
// backslashes become slashes.
std::string NativePath(std::string_view path);

// Opens an existing file; when the exact name is missing, a name in the same folder that differs only
// in ASCII letter case is taken instead (the image's paths come from a case-insensitive system).
int OpenExisting(const std::string &path, int flags);

enum class OpenMode : int32_t {
    Read = 1,      // existing file, reading
    Write = 2,     // existing file, writing
    ReadWrite = 3, // existing file, both
    Rewrite = 4,   // created or emptied, both
};

enum class SeekOrigin : int32_t { Start = 1, End = 2, Current = 3 };

class FileTable {
  public:
    FileTable();
    ~FileTable();

    // A new file number, or 0 when the file cannot be opened in that mode.
    int32_t Open(std::string_view path, int32_t mode);
    bool Close(int32_t number);
    // Moves the read position; positions before the start are refused.
    bool Seek(int32_t number, SeekOrigin origin, int64_t distance);
    // Up to n bytes from the read position (fewer at the end of the file).
    std::optional<std::vector<uint8_t>> Read(int32_t number, size_t n);
    // The same into the caller's buffer of n bytes; the count read, or nothing for an unknown file.
    std::optional<size_t> ReadInto(int32_t number, uint8_t *out, size_t n);
    // The bytes up to the next NUL (not included), at most kMaxText of them; the position moves past the NUL.
    std::optional<std::string> ReadText(int32_t number);
    size_t OpenCount() const;

    static constexpr size_t kMaxText = 1 << 20;

  private:
    struct File;
    File *Find(int32_t number);

    mutable std::mutex mutex_;
    std::unordered_map<int32_t, std::unique_ptr<File>> files_;
    int32_t next_ = 1;
};

} // namespace rt
