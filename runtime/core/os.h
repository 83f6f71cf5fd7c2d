// The operating system's side of the runtime core, its files and the memory the image runs in: one
// backend per platform (os_posix.cpp, os_windows.cpp); the core's callers see only this header. Paths
// are native (UTF-8 on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rt::os {

// An open file: a descriptor on POSIX systems, a handle on Windows.
using Handle = intptr_t;
inline constexpr Handle kNoHandle = -1;

// What tells one version of a regular file from another: when any part differs, the file was
// replaced or changed since.
struct FileIdentity {
    uint64_t volume = 0; // device or volume
    uint64_t index = 0;  // inode or file index
    int64_t size = 0;
    int64_t modified = 0; // modification time, in the system's finest unit
    bool operator==(const FileIdentity &) const = default;
};

// The identity of the regular file at the path, without reading it; nothing when it is missing or
// not a regular file. Never waits, whatever the path names.
std::optional<FileIdentity> Identify(const std::string &path);

enum class Access { Read, Write, ReadWrite, Rewrite };
// The file opened as asked: an existing regular file (opened without waiting, a FIFO included), or
// for Rewrite a file created or emptied, never through a link. Its identity goes to `id`.
Handle Open(const std::string &path, Access access, FileIdentity *id);
void Close(Handle file);
// Up to n bytes from the offset (fewer at the end of the file); nothing on a read error.
std::optional<size_t> ReadAt(Handle file, uint8_t *out, size_t n, uint64_t offset);
std::optional<int64_t> SizeOf(Handle file);

// The first `size` bytes of the open file, mapped read-only so that reads never end the program (a
// file cut short while mapped reads as zeros); null where the platform keeps no mapping (the caller
// reads the file instead).
const uint8_t *MapReadOnly(Handle file, size_t size);
void Unmap(const uint8_t *bytes, size_t size);

// Fresh readable and writable memory below 2 GiB, where the image's 32-bit addresses reach it; null
// when there is none.
void *AllocateLow(size_t size);
// Makes the memory read-only and executable: no page is ever both writable and executable.
bool MakeExecutable(void *memory, size_t size);

// The running program's own path.
std::string ExecutablePath();

// Deletes the file; false when it could not.
bool RemoveFile(const std::string &path);

// An exclusive lock, across this user's processes, on a file while it is read, changed and replaced.
// POSIX: a 0600 lock file of the user's own in the user's private runtime folder (the product's
// folder there), named after the file's device and inode (the folder's, while the file is missing),
// taken with a bounded wait; no other user can hold it. The file is replaced by every save, so a lock
// is good only while the file is still the one it is named after: that is checked once it is held.
// Windows: a mutex of the session named after the product and the folder. No lock is held when the
// product names no folder.
class FileLock {
  public:
    FileLock(const std::string &file, std::string_view productFolder);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    // Whether the lock is held (false when no private place for it exists, or the wait ran out).
    bool held() const { return lock_ != kNoHandle; }
    // The file was replaced: the lock named after its old version serves nobody any more.
    void Replaced();

  private:
    Handle lock_ = kNoHandle;
    std::string name_;
};

} // namespace rt::os
