// Whole-file reads and writes for the files the program keeps: regular files only, read with a size
// cap, replaced atomically without following a link and keeping the old file's mode. One backend per
// platform (io_posix.cpp, io_windows.cpp); on Windows paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

struct stat;

#include "formats/result.h"

namespace rt::io {

enum class Error {
    Missing,     // no such file
    NotRegular,  // a folder, a FIFO, a device: never read, since it may block or never end
    TooLarge,    // larger than the cap
    ReadFailed,  // opening or reading failed otherwise
    WriteFailed, // the temporary file could not be created, written, synced or renamed
};
std::string_view Describe(Error e);

// What ends a folder's name in a path: on Windows a backslash does as well.
#ifdef _WIN32
inline constexpr char kSeparators[] = "/\\";
#else
inline constexpr char kSeparators[] = "/";
#endif

// The folder that holds `path` ("." for a bare name, "/" for a file at the root) and its last part.
std::string FolderOf(const std::string &path);
std::string NameOf(const std::string &path);

// (POSIX) The open descriptor of an existing regular file, opened without blocking (a FIFO would wait for a
// writer) and checked with fstat, whose answer goes to `st` when given. Reads and writes of a regular
// file never block, so the descriptor keeps O_NONBLOCK.
Result<int, Error> OpenRegular(const std::string &path, int flags = 0, struct stat *st = nullptr);

// (POSIX) Why a file found where other users may be able to write (beside the program, in the
// current folder) must not be run or read as this user's own; nothing when it may be. It may when it
// is a regular file, not a link, owned by this user or root and writable by neither group nor others,
// and every folder on its real path is owned by this user or root and writable by neither group nor
// others unless it is sticky: OpenSSH's rule for authorized_keys. `opened`, when given, is the fstat of
// the file as the caller opened it, checked in place of the name. Windows: always nothing.
std::optional<std::string> WhyNotOwn(const std::string &path, const struct stat *opened = nullptr);
// The same rule for a folder alone: why a file made in it could be replaced by another user.
std::optional<std::string> WhyFolderNotOwn(const std::string &path);

// The whole file, at most `cap` bytes of it; a larger file is TooLarge, not cut. (POSIX) A link at
// the path is NotRegular: never followed.
Result<std::string, Error> ReadFile(const std::string &path, size_t cap);

// Whether a written file must survive a crash of the machine (a history) or is made again at every
// start anyway (the runtime's extracted files), where syncing would only cost time.
enum class Durability { Synced, Unsynced };

// Writes the bytes to a new file in the same folder (O_EXCL | O_NOFOLLOW, an unpredictable name),
// syncs it, and renames it over `path`, so that readers see the old file or the new one, never a
// mix, and a link planted at the temporary name is never followed. The temporary file is the user's
// alone (0600) until it is complete. (POSIX) The new file gets the replaced file's read and write bits
// when that was this user's own regular file, otherwise `mode` under the umask; never a set-id,
// sticky or execute bit kept from the old file. The folder is synced after the rename.
Result<bool, Error> WriteFileAtomic(const std::string &path, std::span<const uint8_t> bytes, uint32_t mode = 0644,
                                    Durability durability = Durability::Synced);
inline Result<bool, Error> WriteFileAtomic(const std::string &path, std::string_view bytes, uint32_t mode = 0644) {
    return WriteFileAtomic(path, {reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()}, mode);
}

// Removes this user's temporary files that WriteFileAtomic left beside `path` when it was killed
// before its rename. Only where no other save of the same file can be under way (under its lock).
void RemoveLeftoverTemporaries(const std::string &path);

} // namespace rt::io
