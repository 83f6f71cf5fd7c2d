#include "files.h"
#include "guarded_mapping.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "formats/io/io.h"
#include "formats/text/text.h"

namespace rt {

std::string NativePath(std::string_view path) {
    std::string p(path);
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

std::string FindExisting(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) return path;
    std::string folder = io::FolderOf(path);
    std::string name = io::NameOf(path);
    DIR *dir = ::opendir(folder.c_str());
    if (!dir) return path;
    std::string found = path;
    while (dirent *e = ::readdir(dir)) {
        if (EqualsIgnoreCase(e->d_name, name)) {
            found = folder + "/" + e->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

namespace {

// $NAME when it holds an absolute path, else $HOME/fallback; empty when neither is known.
std::string XdgFolder(const char *name, const char *fallback) {
    const char *v = std::getenv(name);
    if (v && v[0] == '/') return v;
    const char *home = std::getenv("HOME");
    return home && home[0] == '/' ? std::string(home) + "/" + fallback : std::string();
}

} // namespace

std::string UserFile(const std::string &path, const std::string &programFolder) {
    if (io::FolderOf(path) != programFolder || ::access(programFolder.c_str(), W_OK) == 0) return path;
    std::string config = XdgFolder("XDG_CONFIG_HOME", ".config");
    if (config.empty()) return path;
    ::mkdir(config.c_str(), 0700);
    std::string folder = config + "/routetrace";
    ::mkdir(folder.c_str(), 0700);
    return folder + "/" + io::NameOf(path);
}

std::vector<std::string> DataFileCandidates(const std::string &path, const std::string &programFolder) {
    if (path.empty() || path[0] == '/') return {};
    std::string relative = path.rfind("./", 0) == 0 ? path.substr(2) : path;
    std::vector<std::string> candidates = {programFolder + "/" + relative};
    std::string home = XdgFolder("XDG_DATA_HOME", ".local/share");
    if (!home.empty()) candidates.push_back(home + "/routetrace/" + relative);
    const char *dirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    for (size_t start = 0; start <= list.size();) {
        size_t colon = list.find(':', start);
        std::string dir = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!dir.empty() && dir[0] == '/') candidates.push_back(dir + "/routetrace/" + relative);
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return candidates;
}

// A regular file mapped read-only: every lookup opens the database again, and serving its dozens of
// small reads from one mapping makes a lookup cost one stat and memory reads. Known by device, inode,
// size and modification time, so a file replaced or changed is mapped anew at its next opening; the
// guard keeps a file cut short while mapped from ending the program.
struct FileTable::Mapping {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    const uint8_t *bytes = nullptr; // size bytes

    bool Is(const struct stat &st) const {
        return device == st.st_dev && inode == st.st_ino && size == st.st_size &&
               modified.tv_sec == st.st_mtim.tv_sec && modified.tv_nsec == st.st_mtim.tv_nsec;
    }
    ~Mapping() {
        if (bytes) UnmapGuarded(bytes, size_t(size));
    }
};

namespace {

// Files up to this size are mapped; larger ones are read block by block.
constexpr off_t kMaxMapped = 64 << 20;

} // namespace

std::shared_ptr<const FileTable::Mapping> FileTable::MappingOf(int fd, const struct stat &st) {
    if (st.st_size <= 0 || st.st_size > kMaxMapped) return nullptr;
    if (auto known = KnownMapping(st)) return known;
    auto mapping = std::make_shared<Mapping>(Mapping{st.st_dev, st.st_ino, st.st_size, st.st_mtim});
    mapping->bytes = MapGuarded(fd, size_t(st.st_size));
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

    // The cache's bytes stay uninitialised: they are only read where a read filled them.
    File(int descriptor, std::shared_ptr<const Mapping> bytes) : fd(descriptor), mapping(std::move(bytes)) {}

    int fd = -1;
    std::shared_ptr<const Mapping> mapping;
    uint64_t position = 0;
    struct Cached {
        uint64_t index = UINT64_MAX; // block number
        size_t filled = 0;           // bytes valid (less at the end of the file)
        uint64_t used = 0;           // for least-recently-used replacement
        std::array<uint8_t, kBlock> bytes;
    };
    std::array<Cached, kBlocks> cache;
    uint64_t clock = 0;

    ~File() {
        if (fd >= 0) ::close(fd);
    }

    // The cached block with that number, read when missing; null on a read error.
    const Cached *Block(uint64_t index) {
        Cached *victim = &cache[0];
        for (Cached &c : cache) {
            if (c.index == index) {
                c.used = ++clock;
                return &c;
            }
            if (c.used < victim->used) victim = &c;
        }
        ssize_t n;
        do n = ::pread(fd, victim->bytes.data(), kBlock, off_t(index * kBlock));
        while (n < 0 && errno == EINTR);
        if (n < 0) return nullptr;
        victim->index = index;
        victim->filled = size_t(n);
        victim->used = ++clock;
        return victim;
    }

    // Hands the bytes from the position on to `take(bytes, available, done)`, which returns how many
    // it used and sets done to stop; ends at the end of the file. False on a read error.
    template <typename Take> bool Scan(Take take) {
        bool done = false;
        if (mapping) {
            uint64_t size = uint64_t(mapping->size);
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

    void Forget() {
        for (Cached &c : cache) c.index = UINT64_MAX;
    }
};

FileTable::FileTable() = default;
FileTable::~FileTable() = default;

FileTable::File *FileTable::Find(int32_t number) {
    for (auto &[n, file] : files_)
        if (n == number) return file.get();
    return nullptr;
}

namespace {
// Opens the regular file; only when nothing has the exact name is a name in another letter case looked for.
int OpenRegularAnyCase(const std::string &path, int flags, struct stat *st) {
    auto fd = io::OpenRegular(path, flags, st);
    if (!fd && fd.error() == io::Error::Missing) fd = io::OpenRegular(FindExisting(path), flags, st);
    return fd.value_or(-1);
}
} // namespace

std::shared_ptr<const FileTable::Mapping> FileTable::KnownMapping(const struct stat &st) {
    std::lock_guard lock(mutex_);
    for (const auto &s : mappings_)
        if (s->Is(st)) return s;
    return nullptr;
}

int32_t FileTable::Open(std::string_view path, int32_t mode) {
    struct stat st;
    std::string native = NativePath(path);
    if (native.empty()) return 0;
    // A file read before and unchanged since (same device, inode, size and time) costs one stat: its
    // bytes are still in memory. stat never waits, whatever the file is.
    if (OpenMode(mode) == OpenMode::Read && ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        if (auto known = KnownMapping(st)) return Add(std::make_unique<File>(-1, std::move(known)));
    int fd;
    switch (OpenMode(mode)) {
    case OpenMode::Read: fd = OpenRegularAnyCase(native, O_RDONLY, &st); break;
    case OpenMode::Write: fd = OpenRegularAnyCase(native, O_WRONLY, &st); break;
    case OpenMode::ReadWrite: fd = OpenRegularAnyCase(native, O_RDWR, &st); break;
    case OpenMode::Rewrite: fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644); break;
    default: return 0;
    }
    if (fd < 0) return 0;
    std::shared_ptr<const Mapping> mapping = OpenMode(mode) == OpenMode::Read ? MappingOf(fd, st) : nullptr;
    if (mapping) { // everything is in memory: the descriptor is not needed
        ::close(fd);
        fd = -1;
    }
    return Add(std::make_unique<File>(fd, std::move(mapping)));
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
        struct stat st;
        if (f->mapping) {
            base = f->mapping->size;
            break;
        }
        if (::fstat(f->fd, &st) != 0) return false;
        base = st.st_size;
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
        uint64_t size = uint64_t(f->mapping->size);
        size_t take = f->position < size ? size_t(std::min<uint64_t>(n, size - f->position)) : 0;
        if (take) std::memcpy(out, f->mapping->bytes + f->position, take);
        f->position += take;
        return take;
    }
    size_t got = 0;
    bool ok = f->Scan([&](const uint8_t *p, size_t available, bool &done) {
        size_t take = std::min(available, n - got);
        std::memcpy(out + got, p, take);
        got += take;
        done = got == n;
        return take;
    });
    if (!ok) return std::nullopt;
    return got;
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
