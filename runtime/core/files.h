// Files opened by the image's code, by file number.
#pragma once

#include <cstdint>
#include <memory>
#include <atomic>
#include <mutex>
#include <thread>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "os.h"

namespace rt {

// A Windows-style path as the image writes it (".\QQWry.dat", "folder\lsjl.ini") made native:
// backslashes become slashes.
std::string NativePath(std::string_view path);

// The path of an existing file: the path itself, or when nothing has that exact name, a name in the
// same folder that differs only in ASCII letter case (the image's paths come from a case-insensitive
// system). The path unchanged when neither exists.
std::string FindExisting(const std::string &path);

// Where a file the program keeps in its own folder (the target history) lives for this user: there,
// when the user may write to that folder (a portable copy behaves as it always did); otherwise under
// the same name in $XDG_CONFIG_HOME/PRODUCT (~/.config/PRODUCT; %APPDATA%\PRODUCT on Windows), created
// private when missing, PRODUCT being the product's folder name (ProductNames::folder). Paths outside
// the program's folder, and every path when the product names no folder, stay as they are.
std::string UserFile(const std::string &path, const std::string &programFolder, std::string_view productFolder);

// The places, in order, where a file the program reads by a relative path (the place database) is
// looked for when the current folder has none: the program's folder, $XDG_DATA_HOME/PRODUCT
// (~/.local/share/PRODUCT), then each folder of $XDG_DATA_DIRS (/usr/local/share:/usr/share) with
// /PRODUCT (the program's folder alone on Windows, or when the product names no folder).
std::vector<std::string> DataFileCandidates(const std::string &path, const std::string &programFolder,
                                            std::string_view productFolder);

// Says once, on standard error, that a file found in its place is not used and why (another user may
// have put it there; see io::WhyNotOwn); the search goes on to the next place.
void NotePassedOver(const std::string &path, std::string_view why);
// While held (a terminal window covers the terminal), notices are kept; they are said when released.
void HoldNotices(bool hold);

// Whether a file of the program's found beside it or in the current folder may be used: true when
// it is missing (nothing to pass over) or this user's own (io::WhyNotOwn; a link only where nobody
// else could have put it and the file it leads to passes as well); otherwise said once and false.
bool UsableInPlace(const std::string &path);

// A file at a place another user may have put it, looked at once: the path it has there (in another
// letter case where only that exists), whether it may be used (UsableInPlace), and for a regular
// file that is no link, its identity from the same status read. The place database is opened at
// every lookup: that one read serves both the check and the opening.
struct PlacedFile {
    std::string path;
    bool usable;
    std::optional<os::FileIdentity> identity;
};
PlacedFile CheckPlace(const std::string &path);

// Whether a file read by this path is looked for in other places too, when the path itself holds
// none (a relative path: the current folder comes first).
bool HasOtherPlaces(const std::string &path);

// The places, in order, where a file read by a path is looked for: the path itself, and for a
// relative one (the current folder) the places of DataFileCandidates after it. A checked place (the
// current folder, the program's) yields its file only when it is the user's own (UsableInPlace).
struct DataPlace {
    std::string path; // the file's path there
    bool checked;     // another user may have put a file there
};
std::vector<DataPlace> DataFilePlaces(const std::string &path, const std::string &programFolder,
                                      std::string_view productFolder);
// The folders of the places, each once, as a message names them (the current one in full).
std::vector<std::string> FoldersOf(const std::vector<DataPlace> &places);

// The path of a data file the program reads by its bare name (the AS table): the first of its
// DataFilePlaces that holds it and may be used; nothing when none does. `lookedIn`, when given, gets
// the folders looked in, in order, each once.
std::optional<std::string> FindDataFile(const std::string &name, const std::string &programFolder,
                                        std::string_view productFolder, std::vector<std::string> *lookedIn = nullptr);

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

    // A new file number, or 0 when the file cannot be opened in that mode. `seen`, when given, is the
    // identity the caller has just read of the file at that path (CheckPlace): no second read is made.
    int32_t Open(std::string_view path, int32_t mode, const os::FileIdentity *seen = nullptr);
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
    struct Mapping;
    File *Find(int32_t number);
    std::shared_ptr<const Mapping> MappingOf(intptr_t file, const os::FileIdentity &id);
    std::shared_ptr<const Mapping> KnownMapping(const os::FileIdentity &id);
    bool HoldsMappings() const;
    int32_t Add(std::unique_ptr<File> file);
    static constexpr size_t kMappings = 2;

    // Held around every read of a lookup, dozens per lookup: a spin lock's uncontended path is a
    // single atomic exchange. Nothing slow happens while it is held.
    class SpinLock {
      public:
        void lock() {
            while (flag_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
        }
        void unlock() { flag_.clear(std::memory_order_release); }

      private:
        std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
    };
    mutable SpinLock mutex_;
    std::vector<std::pair<int32_t, std::unique_ptr<File>>> files_; // few at a time: searched in order
    std::vector<std::shared_ptr<Mapping>> mappings_;
    int32_t next_ = 1;
};

} // namespace rt
