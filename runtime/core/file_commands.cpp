// The file commands: files by number, as the image opens, reads and closes them.

#include <algorithm>

#include "files.h"
#include "os.h"
#include "runtime.h"
#include "trace_records.h"

namespace rt {

namespace {

int32_t FileNumber(Args &a) { return int32_t(a.integer(0)); }

// The file at one place, opened for reading: at a checked place only when it may be used there
// (CheckPlace), and then through the status that check read. 0 when there is none to open.
int32_t OpenInPlace(FileTable &files, const DataPlace &place, int32_t mode) {
    if (!place.checked) return files.Open(place.path, mode);
    PlacedFile found = CheckPlace(place.path);
    if (!found.usable) return 0;
    return files.Open(found.path, mode, found.identity ? &*found.identity : nullptr);
}

// FileOpen: open (path, mode, sharing); gives a file number, 0 when it cannot be opened.
// A file read by a relative path that the current folder lacks is looked for where an installed
// program keeps its data. One in the current folder or beside the program is taken only when it is
// this user's own: another user may have put it there. Where it is nowhere, the trace's records hear
// where it was looked for.
RtResult OpenFile(Args &a) {
    int32_t mode = int32_t(a.integer(1, 1));
    FileTable &files = a.runtime().files();
    std::string native = NativePath(a.text(0));
    if (OpenMode(mode) != OpenMode::Read) return ResultOfInt(files.Open(native, mode));
    // The place database is opened at every lookup and nearly always found by its path itself: that
    // place is tried before the others are worked out from the program's folder and the environment.
    if (int32_t number = OpenInPlace(files, {native, HasOtherPlaces(native)}, mode)) return ResultOfInt(number);
    std::vector<DataPlace> places = DataFilePlaces(native, a.runtime().ProgramFolder(), a.runtime().product().folder);
    for (size_t i = 1; i < places.size(); ++i)
        if (int32_t number = OpenInPlace(files, places[i], mode)) return ResultOfInt(number);
    Traces().FileMissing(native, FoldersOf(places));
    return ResultOfInt(0);
}

// FileClose: close.
RtResult CloseFile(Args &a) { return ResultOfBool(a.runtime().files().Close(FileNumber(a))); }

// FileSeek: move the read position (file, origin: 1 start (default), 2 end, 3 current; distance).
RtResult SeekFile(Args &a) {
    int64_t origin = a.integer(1, 1);
    return ResultOfBool(a.runtime().files().Seek(FileNumber(a), SeekOrigin(origin), a.integer(2)));
}

// FileRead: the next n bytes as a byte set (fewer at the end; empty for a closed file).
RtResult ReadBytes(Args &a) {
    int64_t n = a.count(1);
    // The small reads of a lookup go straight into the new byte set.
    constexpr int64_t kDirect = 4096;
    if (n <= kDirect) {
        auto *words = static_cast<uint32_t *>(Runtime::Allocate(8 + size_t(n)));
        auto got =
            a.runtime().files().ReadInto(int32_t(a.integer(0)), reinterpret_cast<uint8_t *>(words + 2), size_t(n));
        words[0] = 1;
        words[1] = uint32_t(got.value_or(0));
        return RtResult{reinterpret_cast<uintptr_t>(words), RtTypeBytes};
    }
    auto bytes = a.runtime().files().Read(FileNumber(a), size_t(std::min<int64_t>(n, int64_t(1) << 30)));
    return ResultOfBytes(bytes ? std::span<const uint8_t>(*bytes) : std::span<const uint8_t>());
}

// FileReadText: the text up to the next NUL.
RtResult ReadText(Args &a) {
    auto text = a.runtime().files().ReadText(FileNumber(a));
    return ResultOfText(text ? std::string_view(*text) : std::string_view());
}

// FileDelete: delete a file.
RtResult DeleteFile(Args &a) {
    Runtime &runtime = a.runtime();
    return ResultOfBool(
        os::RemoveFile(UserFile(NativePath(a.text(0)), runtime.ProgramFolder(), runtime.product().folder)));
}

// ProgramFolder: the program's folder, without a trailing separator.
RtResult ProgramFolder(Args &a) { return ResultOfText(a.runtime().ProgramFolder()); }

} // namespace

void AddFileCommands(CommandTable &table) {
    table.add(cmd::FileOpen, OpenFile);
    table.add(cmd::FileClose, CloseFile);
    table.add(cmd::FileSeek, SeekFile);
    table.add(cmd::FileRead, ReadBytes);
    table.add(cmd::FileReadText, ReadText);
    table.add(cmd::FileDelete, DeleteFile);
    table.add(cmd::ProgramFolder, ProgramFolder);
}

} // namespace rt
