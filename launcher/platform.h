// The operating-system calls the launcher makes, on Linux.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace launcher {

// Paths longer than this are refused rather than cut.
inline constexpr size_t kMaxPath = 4096;

// The running executable's path.
std::optional<std::string> OwnPath();
// The user's temporary directory: $TMPDIR when it is an absolute path, else /tmp; without a
// trailing slash.
std::optional<std::string> TemporaryDirectory();
// Creates the folder with mode 0700 when missing (an existing one is reused).
void CreateFolder(const std::string &path);
// Whether the path is a real directory (or, with wantFile, a regular file), not a link, owned by
// this user and not writable by group or others: only then may a library be loaded from it.
bool IsPrivate(const std::string &path, bool wantFile);
// Writes the bytes under a temporary name in the folder and renames it over the file, so that a
// running copy keeps the file it has mapped and a new copy gets a complete one. False on failure.
bool ReplaceFile(const std::string &folder, const std::string &name, std::span<const uint8_t> content);
// Loads a shared library and looks up a symbol; null on failure (the reason goes to stderr).
void *LoadLibrary(const std::string &path);
void *FindSymbol(void *library, const char *name);
// Writes "Error: MESSAGE" to standard error and, where a display is available, shows a dialog.
void ShowErrorBox(std::string_view message);

} // namespace launcher
