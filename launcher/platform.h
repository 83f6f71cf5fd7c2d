// The operating-system calls the launcher makes: one backend per platform (platform_linux.cpp,
// platform_windows.cpp). Paths are UTF-8. Every call that can fail answers with the launcher's own
// Failure (its code, and the system's reason as the detail); none of them prints or shows anything:
// what the user sees is the launcher's to decide.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "launcher.h"

namespace launcher {

// Paths longer than this are refused rather than cut.
inline constexpr size_t kMaxPath = 4096;

template <typename T> using Outcome = rt::Result<T, Failure>;
// What a call that gives nothing back answers when it succeeded.
struct Done {};

// The first thing the program does, before it reads the environment or any file: whenever it holds a
// raised id or a capability in any set (ambient and inheritable included, however it got them), it
// takes the real user's ids and empties every capability set. It keeps none of them for anything:
// raw ICMP goes through the separate helper, which carries its own right. A copy made setuid root or
// given CAP_NET_RAW runs on without it; any other raised start (a file capability or set-id the
// program never asked for) is refused after the drop (ElevatedStart), as is one whose rights could
// not be dropped.
Outcome<Done> DropRaisedRights();

// The running executable's path (CantOpen when it cannot be had in full).
Outcome<std::string> OwnPath();

// A file opened for reading, as a descriptor for payload::FileSource (CantOpen otherwise).
Outcome<int> OpenForReading(const std::string &path);
void CloseFile(int fd);

struct ExtractionFolder {
    std::string path;
    bool fresh = false; // made anew beside a folder of that name that could not be used
};
// This user's folder of that name, created private (mode 0700): $XDG_RUNTIME_DIR/NAME when that is
// this user's private folder, otherwise NAME-UID in $TMPDIR or /tmp. One that exists but is not the
// user's alone (another owner, a link, writable by others) is never used: a fresh private folder
// beside it is made instead. NoTempDir when there is none to be had.
Outcome<ExtractionFolder> PrivateFolder(const std::string &name);

// Removes a fresh folder and what was extracted into it once the core library is loaded and nothing
// else in it is needed, so that a name someone keeps taken does not leave a folder behind at every
// start. (Linux: the library runs from sealed memory. Windows keeps it: a loaded DLL's file stays.)
void RemoveFreshFolder(const std::string &folder);

// Writes the bytes under a temporary name in the folder and renames it over the file, so that a
// running copy keeps the file it has mapped and a new copy gets a complete one. WriteFailed otherwise.
Outcome<Done> WriteExtractedFile(const std::string &folder, const std::string &name, std::span<const uint8_t> content);

// Loads the shared library at the path only when it is a private regular file of this user whose
// bytes are `expected`, through the very descriptor that was checked. LoadFailed otherwise, the
// detail saying why.
Outcome<void *> LoadVerifiedLibrary(const std::string &path, std::span<const uint8_t> expected);
// The library's export of that name (InvalidKernel when it has none).
Outcome<void *> FindSymbol(void *library, const char *name);

// Shows the message in a dialog titled "Error" with the error icon, where a display is available
// (Linux: through the desktop's dialog tools, whichever is installed; nothing if none is).
void ShowErrorBox(std::string_view message);

} // namespace launcher
