#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "gbk.h"
#include "runtime.h"

namespace rt {

std::string NativePath(std::string_view path) {
    std::string p(path);
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

int OpenExisting(const std::string &path, int flags) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string_view name = slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
    DIR *dir = ::opendir(folder.c_str());
    if (!dir) return -1;
    std::string match;
    while (dirent *e = ::readdir(dir)) {
        if (GbkEqualsIgnoreCase(e->d_name, name)) {
            match = e->d_name;
            break;
        }
    }
    ::closedir(dir);
    if (match.empty()) return -1;
    return ::open((folder + "/" + match).c_str(), flags | O_CLOEXEC);
}

// An open file with its read position and a few cached 4 KiB blocks: a location lookup makes dozens
// of small positioned reads, most of them near each other.
struct FileTable::File {
    static constexpr size_t kBlock = 4096;
    static constexpr size_t kBlocks = 4;

    int fd = -1;
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
    auto it = files_.find(number);
    return it == files_.end() ? nullptr : it->second.get();
}

int32_t FileTable::Open(std::string_view path, int32_t mode) {
    std::string native = NativePath(path);
    if (native.empty()) return 0;
    int fd;
    switch (OpenMode(mode)) {
    case OpenMode::Read: fd = OpenExisting(native, O_RDONLY); break;
    case OpenMode::Write: fd = OpenExisting(native, O_WRONLY); break;
    case OpenMode::ReadWrite: fd = OpenExisting(native, O_RDWR); break;
    case OpenMode::Rewrite: fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); break;
    default: return 0;
    }
    if (fd < 0) return 0;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return 0;
    }
    std::unique_ptr<File> file(new File); // default-initialised: the cache bytes need no zeroing
    file->fd = fd;
    std::lock_guard lock(mutex_);
    int32_t number = next_++;
    if (next_ <= 0) next_ = 1;
    files_[number] = std::move(file);
    return number;
}

bool FileTable::Close(int32_t number) {
    std::lock_guard lock(mutex_);
    return files_.erase(number) != 0;
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

// ---- Commands ------------------------------------------------------------------------------------

namespace {

int32_t FileNumber(Args &a) { return int32_t(a.integer(0)); }

// 0x270: open (path, mode, sharing); gives a file number, 0 when it cannot be opened.
RtResult OpenFile(Args &a) {
    return ResultOfInt(a.runtime().files().Open(a.text(0), int32_t(a.integer(1, 1))));
}

// 0x278: close.
RtResult CloseFile(Args &a) { return ResultOfBool(a.runtime().files().Close(FileNumber(a))); }

// 0x288: move the read position (file, origin: 1 start (default), 2 end, 3 current; distance).
RtResult SeekFile(Args &a) {
    int64_t origin = a.integer(1, 1);
    return ResultOfBool(a.runtime().files().Seek(FileNumber(a), SeekOrigin(origin), a.integer(2)));
}

// 0x294: the next n bytes as a byte set (fewer at the end; empty for a closed file).
RtResult ReadBytes(Args &a) {
    int64_t n = a.count(1);
    // The small reads of a lookup go straight into the new byte set.
    constexpr int64_t kDirect = 4096;
    if (n <= kDirect) {
        auto *words = static_cast<uint32_t *>(Runtime::Allocate(8 + size_t(n)));
        auto got = a.runtime().files().ReadInto(int32_t(a.integer(0)), reinterpret_cast<uint8_t *>(words + 2), size_t(n));
        words[0] = 1;
        words[1] = uint32_t(got.value_or(0));
        return RtResult{reinterpret_cast<uintptr_t>(words), RtTypeBytes};
    }
    auto bytes = a.runtime().files().Read(FileNumber(a), size_t(std::min<int64_t>(n, int64_t(1) << 30)));
    return ResultOfBytes(bytes ? std::span<const uint8_t>(*bytes) : std::span<const uint8_t>());
}

// 0x29c: the text up to the next NUL.
RtResult ReadText(Args &a) {
    auto text = a.runtime().files().ReadText(FileNumber(a));
    return ResultOfText(text ? std::string_view(*text) : std::string_view());
}

// 0x244: delete a file.
RtResult DeleteFile(Args &a) { return ResultOfBool(::unlink(NativePath(a.text(0)).c_str()) == 0); }

// 0x104: the program's folder, without a trailing separator.
RtResult ProgramFolder(Args &a) { return ResultOfText(a.runtime().ProgramFolder()); }

} // namespace

void AddFileCommands(CommandTable &table) {
    table.add(0x270, OpenFile);
    table.add(0x278, CloseFile);
    table.add(0x288, SeekFile);
    table.add(0x294, ReadBytes);
    table.add(0x29c, ReadText);
    table.add(0x244, DeleteFile);
    table.add(0x104, ProgramFolder);
}

} // namespace rt
