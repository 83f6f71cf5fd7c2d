#include "files.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "formats/io/io.h"
#include "os.h"
#include "runtime.h"

namespace rt {

namespace {

// The notices said on standard error, and those kept while a terminal window covers the terminal.
struct Notices {
    std::mutex mutex;
    std::set<std::string> said; // a database is opened at every lookup: one line is enough
    bool held = false;
    std::vector<std::string> kept;
};
Notices &TheNotices() {
    static Notices notices;
    return notices;
}

void Say(const std::string &line) {
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace

void NotePassedOver(const std::string &path, std::string_view why) {
    Notices &n = TheNotices();
    std::lock_guard lock(n.mutex);
    if (!n.said.insert(path).second) return;
    std::string line = Runtime::Instance().product().name + ": not using " + path + ": " + std::string(why) + "\n";
    if (n.held) n.kept.push_back(std::move(line));
    else Say(line);
}

void HoldNotices(bool hold) {
    Notices &n = TheNotices();
    std::lock_guard lock(n.mutex);
    n.held = hold;
    if (hold) return;
    for (const std::string &line : n.kept) Say(line);
    n.kept.clear();
}

namespace {

std::string CurrentFolder() {
    std::error_code ec;
    std::u8string here = std::filesystem::current_path(ec).u8string();
    return ec ? std::string(".") : std::string(here.begin(), here.end());
}

} // namespace

std::vector<DataPlace> DataFilePlaces(const std::string &path, const std::string &programFolder,
                                      std::string_view productFolder) {
    std::vector<std::string> elsewhere = DataFileCandidates(path, programFolder, productFolder);
    // A path with places elsewhere is relative: the first place is the current folder.
    std::vector<DataPlace> places = {{path, HasOtherPlaces(path)}};
    for (size_t i = 0; i < elsewhere.size(); ++i) places.push_back({elsewhere[i], i == 0}); // the program's folder
    return places;
}

std::vector<std::string> FoldersOf(const std::vector<DataPlace> &places) {
    std::vector<std::string> folders;
    for (const DataPlace &place : places) {
        std::string folder = io::FolderOf(place.path);
        if (folder == ".") folder = CurrentFolder();
        if (folders.empty() || folders.back() != folder) folders.push_back(std::move(folder));
    }
    return folders;
}

std::optional<std::string> FindDataFile(const std::string &name, const std::string &programFolder,
                                        std::string_view productFolder, std::vector<std::string> *lookedIn) {
    std::vector<DataPlace> places = DataFilePlaces(name, programFolder, productFolder);
    for (const DataPlace &place : places) {
        std::string found = FindExisting(place.path);
        if (os::Identify(found) && (!place.checked || UsableInPlace(found))) return found;
    }
    if (lookedIn) *lookedIn = FoldersOf(places);
    return std::nullopt;
}

std::string NativePath(std::string_view path) {
    std::string p(path);
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

// A regular file mapped read-only: every lookup opens the database again, and serving its dozens of
// small reads from one mapping makes a lookup cost one stat and memory reads. Known by device, inode,
// size and modification time, so a file replaced or changed is mapped anew at its next opening; a
// file cut short while mapped reads as zeros rather than ending the program.
struct FileTable::Mapping {
    os::FileIdentity identity;
    const uint8_t *bytes = nullptr; // identity.size bytes

    ~Mapping() {
        if (bytes) os::Unmap(bytes, size_t(identity.size));
    }
};

namespace {

// Files up to this size are mapped; larger ones are read block by block.
constexpr int64_t kMaxMapped = 64 << 20;

} // namespace

std::shared_ptr<const FileTable::Mapping> FileTable::MappingOf(intptr_t file, const os::FileIdentity &id) {
    if (id.size <= 0 || id.size > kMaxMapped) return nullptr;
    if (auto known = KnownMapping(id)) return known;
    auto mapping = std::make_shared<Mapping>(Mapping{id});
    mapping->bytes = os::MapReadOnly(file, size_t(id.size));
    if (!mapping->bytes) return nullptr;
    std::lock_guard lock(mutex_);
    // A few files at most are kept: memory stays flat however many lookups and replacements come.
    if (mappings_.size() >= kMappings) mappings_.erase(mappings_.begin());
    mappings_.push_back(mapping);
    return mapping;
}

// An open file with its read position: reads come from its mapping, or for a file without one from
// a few cached 4 KiB blocks (a location lookup makes dozens of small positioned reads near each other).
struct FileTable::File {
    static constexpr size_t kBlock = 4096;
    static constexpr size_t kBlocks = 4;

    File(os::Handle handle, std::shared_ptr<const Mapping> bytes) : fd(handle), mapping(std::move(bytes)) {}

    os::Handle fd = os::kNoHandle;
    std::shared_ptr<const Mapping> mapping;
    uint64_t position = 0;
    struct Cached {
        uint64_t index = UINT64_MAX; // block number
        size_t filled = 0;           // bytes valid (less at the end of the file)
        uint64_t used = 0;           // for least-recently-used replacement
        std::array<uint8_t, kBlock> bytes;
    };
    // Made at the first read of a file without a mapping. Its bytes stay uninitialised: they are
    // only read where a read filled them.
    std::unique_ptr<std::array<Cached, kBlocks>> cache;
    uint64_t clock = 0;

    ~File() { os::Close(fd); }

    // The cached block with that number, read when missing; null on a read error.
    const Cached *Block(uint64_t index) {
        if (!cache) cache = std::make_unique_for_overwrite<std::array<Cached, kBlocks>>();
        Cached *victim = &(*cache)[0];
        for (Cached &c : *cache) {
            if (c.index == index) {
                c.used = ++clock;
                return &c;
            }
            if (c.used < victim->used) victim = &c;
        }
        auto n = os::ReadAt(fd, victim->bytes.data(), kBlock, index * kBlock);
        if (!n) return nullptr;
        victim->index = index;
        victim->filled = *n;
        victim->used = ++clock;
        return victim;
    }

    // Hands the bytes from the position on to `take(bytes, available, done)`, which returns how many
    // it used and sets done to stop; ends at the end of the file. False on a read error.
    template <typename Take> bool Scan(Take take) {
        bool done = false;
        if (mapping) {
            uint64_t size = uint64_t(mapping->identity.size);
            while (!done && position < size) position += take(mapping->bytes + position, size_t(size - position), done);
            return true;
        }
        while (!done) {
            if (position > uint64_t(INT64_MAX)) return true;
            const Cached *b = Block(position / kBlock);
            if (!b) return false;
            size_t at = size_t(position % kBlock);
            if (at >= b->filled) return true; // end of file
            position += take(b->bytes.data() + at, b->filled - at, done);
        }
        return true;
    }

    // Up to n bytes from the position on, through the block cache; nothing on a read error.
    std::optional<size_t> ReadFromBlocks(uint8_t *out, size_t n) {
        size_t got = 0;
        bool ok = Scan([&](const uint8_t *p, size_t available, bool &done) {
            size_t take = std::min(available, n - got);
            std::memcpy(out + got, p, take);
            got += take;
            done = got == n;
            return take;
        });
        if (!ok) return std::nullopt;
        return got;
    }

    void Forget() {
        if (cache)
            for (Cached &c : *cache) c.index = UINT64_MAX;
    }
};

FileTable::FileTable() = default;
FileTable::~FileTable() = default;

FileTable::File *FileTable::Find(int32_t number) {
    for (auto &[n, file] : files_)
        if (n == number) return file.get();
    return nullptr;
}

bool FileTable::HoldsMappings() const {
    std::lock_guard lock(mutex_);
    return !mappings_.empty();
}

std::shared_ptr<const FileTable::Mapping> FileTable::KnownMapping(const os::FileIdentity &id) {
    std::lock_guard lock(mutex_);
    for (const auto &m : mappings_)
        if (m->identity == id) return m;
    return nullptr;
}

int32_t FileTable::Open(std::string_view path, int32_t mode, const os::FileIdentity *seen) {
    std::string native = NativePath(path);
    if (native.empty()) return 0;
    os::Access access;
    switch (OpenMode(mode)) {
    case OpenMode::Read: access = os::Access::Read; break;
    case OpenMode::Write: access = os::Access::Write; break;
    case OpenMode::ReadWrite: access = os::Access::ReadWrite; break;
    case OpenMode::Rewrite: access = os::Access::Rewrite; break;
    default: return 0;
    }
    // A file read before and unchanged since (same device, inode, size and time) costs one stat: its
    // bytes are still in memory. Where the platform keeps no mapping there is nothing to ask for.
    if (access == os::Access::Read && HoldsMappings())
        if (auto id = seen ? std::optional(*seen) : os::Identify(native))
            if (auto known = KnownMapping(*id)) return Add(std::make_unique<File>(os::kNoHandle, std::move(known)));
    os::FileIdentity id;
    os::Handle file = os::Open(native, access, &id);
    // Only when nothing has the exact name is a name in another letter case looked for.
    if (file == os::kNoHandle && access != os::Access::Rewrite)
        if (std::string other = FindExisting(native); other != native) file = os::Open(other, access, &id);
    if (file == os::kNoHandle) return 0;
    std::shared_ptr<const Mapping> mapping = access == os::Access::Read ? MappingOf(file, id) : nullptr;
    if (mapping) { // everything is in memory: the file need not stay open
        os::Close(file);
        file = os::kNoHandle;
    }
    return Add(std::make_unique<File>(file, std::move(mapping)));
}

int32_t FileTable::Add(std::unique_ptr<File> file) {
    std::lock_guard lock(mutex_);
    int32_t number = next_++;
    if (next_ <= 0) next_ = 1;
    files_.emplace_back(number, std::move(file));
    return number;
}

bool FileTable::Close(int32_t number) {
    std::unique_ptr<File> closing; // destroyed (and its descriptor closed) outside the lock
    std::lock_guard lock(mutex_);
    for (auto it = files_.begin(); it != files_.end(); ++it)
        if (it->first == number) {
            closing = std::move(it->second);
            files_.erase(it);
            return true;
        }
    return false;
}

bool FileTable::Seek(int32_t number, SeekOrigin origin, int64_t distance) {
    std::lock_guard lock(mutex_);
    File *f = Find(number);
    if (!f) return false;
    int64_t base;
    switch (origin) {
    case SeekOrigin::Start: base = 0; break;
    case SeekOrigin::Current: base = int64_t(f->position); break;
    case SeekOrigin::End: {
        if (f->mapping) {
            base = f->mapping->identity.size;
            break;
        }
        auto size = os::SizeOf(f->fd);
        if (!size) return false;
        base = *size;
        f->Forget(); // the file may have grown or shrunk
        break;
    }
    default: return false;
    }
    if ((distance < 0 && base < -distance) || (distance > 0 && base > INT64_MAX - distance)) return false;
    f->position = uint64_t(base + distance);
    return true;
}

std::optional<size_t> FileTable::ReadInto(int32_t number, uint8_t *out, size_t n) {
    std::lock_guard lock(mutex_);
    File *f = Find(number);
    if (!f) return std::nullopt;
    if (f->mapping) { // the small reads of a lookup: straight from memory
        uint64_t size = uint64_t(f->mapping->identity.size);
        size_t take = f->position < size ? size_t(std::min<uint64_t>(n, size - f->position)) : 0;
        if (take) std::memcpy(out, f->mapping->bytes + f->position, take);
        f->position += take;
        return take;
    }
    return f->ReadFromBlocks(out, n);
}

std::optional<std::vector<uint8_t>> FileTable::Read(int32_t number, size_t n) {
    // In pieces, so that a large count allocates only what the file holds.
    constexpr size_t kPiece = 1 << 16;
    std::vector<uint8_t> out;
    while (out.size() < n) {
        size_t want = std::min(kPiece, n - out.size());
        size_t at = out.size();
        out.resize(at + want);
        auto got = ReadInto(number, out.data() + at, want);
        if (!got) return std::nullopt;
        out.resize(at + *got);
        if (*got < want) break; // the end of the file
    }
    return out;
}

std::optional<std::string> FileTable::ReadText(int32_t number) {
    std::lock_guard lock(mutex_);
    File *f = Find(number);
    if (!f) return std::nullopt;
    std::string out;
    bool ok = f->Scan([&](const uint8_t *p, size_t available, bool &done) {
        size_t look = std::min(available, kMaxText - out.size());
        if (auto *nul = static_cast<const uint8_t *>(std::memchr(p, 0, look))) {
            out.append(reinterpret_cast<const char *>(p), size_t(nul - p));
            done = true;
            return size_t(nul - p) + 1; // past the NUL
        }
        out.append(reinterpret_cast<const char *>(p), look);
        done = out.size() == kMaxText;
        return look;
    });
    if (!ok) return std::nullopt;
    return out;
}

size_t FileTable::OpenCount() const {
    std::lock_guard lock(mutex_);
    return files_.size();
}

} // namespace rt
