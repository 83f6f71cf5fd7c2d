#include "runtime.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <vector>

#include "files.h"

namespace rt {

namespace {

// Every block starts with this header so that GlobalSize can answer and a stray pointer is noticed.
struct BlockHeader {
    uint64_t size;
    uint64_t magic;
};
constexpr uint64_t kBlockMagic = 0x6b636f6c42747452ull; // "RttBlock"
static_assert(sizeof(BlockHeader) == 16, "blocks stay 16-byte aligned");

std::string HexWord(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

} // namespace

// Small blocks (most texts and byte sets are a few bytes) come from a per-thread cache: a lookup
// holds more of them at once than the C library's own per-thread cache keeps, and the slow path of
// malloc would then cost a fifth of its time.
namespace {
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCacheSmallBlocks = false; // AddressSanitizer must see every free
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kCacheSmallBlocks = false;
#else
constexpr bool kCacheSmallBlocks = true;
#endif
#else
constexpr bool kCacheSmallBlocks = true;
#endif
constexpr size_t kSmallPayload = 48;
constexpr size_t kSmallBlock = sizeof(BlockHeader) + kSmallPayload;
constexpr size_t kCacheLimit = 256;

struct SmallBlockCache {
    std::vector<void *> blocks;
    ~SmallBlockCache() {
        for (void *b : blocks) std::free(b);
    }
};
thread_local SmallBlockCache t_cache;
} // namespace

void *Runtime::Allocate(size_t size) {
    BlockHeader *h;
    if (kCacheSmallBlocks && size <= kSmallPayload && !t_cache.blocks.empty()) {
        h = static_cast<BlockHeader *>(t_cache.blocks.back());
        t_cache.blocks.pop_back();
    } else {
        h = static_cast<BlockHeader *>(std::malloc(size <= kSmallPayload ? kSmallBlock : sizeof(BlockHeader) + size));
        if (!h) {
            std::fputs("Runtime error: out of memory\n", stderr);
            std::_Exit(1);
        }
    }
    h->size = size;
    h->magic = kBlockMagic;
    return h + 1;
}

void Runtime::Free(void *block) {
    if (!block) return; // the image never passes null, but a null is harmless
    auto *h = static_cast<BlockHeader *>(block) - 1;
    h->magic = 0; // a second free of the same block is then seen as foreign, not freed twice
    if (kCacheSmallBlocks && h->size <= kSmallPayload && t_cache.blocks.size() < kCacheLimit) {
        t_cache.blocks.push_back(h);
        return;
    }
    std::free(h);
}

size_t Runtime::BlockSize(const void *block) {
    if (!block || reinterpret_cast<uintptr_t>(block) % alignof(BlockHeader) != 0) return 0;
    auto *h = static_cast<const BlockHeader *>(block) - 1;
    return h->magic == kBlockMagic ? h->size : 0;
}

std::string_view DescribeErrorKind(int32_t kind) {
    switch (kind) {
    case RtErrorIndexAboveBound: return "array index above its bound";
    case RtErrorNotConvertible: return "value of a type that cannot be converted";
    case RtErrorIndexBelowOne: return "array index below 1";
    case RtErrorStackMoved: return "a DLL command moved the stack pointer";
    case RtErrorNegativeCount: return "negative count";
    case RtErrorUnknownCommand: return "unknown command";
    case RtErrorBadArgument: return "missing or invalid argument";
    default: return "unknown error";
    }
}

std::string DescribeError(int32_t kind, const ErrorSite &site, std::string_view detail) {
    std::string m = "Runtime error " + std::to_string(kind) + ": " + std::string(DescribeErrorKind(kind));
    if (site.dll) {
        m += " in DLL command " + std::to_string(site.command);
    } else if (site.command != 0 || site.subroutine == 0) {
        m += site.library == 0 ? " in core command " : " in command of library row " + std::to_string(site.library) + ", ";
        m += HexWord(site.command);
    } else {
        m += " in subroutine " + HexWord(site.subroutine) + " at position " + std::to_string(site.position);
    }
    if (!detail.empty()) m += " (" + std::string(detail) + ")";
    return m;
}

Runtime &Runtime::Instance() {
    static Runtime *instance = new Runtime; // never destroyed: the trace thread may outlive main
    return *instance;
}

Runtime::Runtime() : frontEnd_(MakeConsoleFrontEnd()), files_(std::make_unique<FileTable>()) {
    AddTextCommands(core_);
    AddNumberCommands(core_);
    AddByteSetCommands(core_);
    AddFileCommands(core_);
    AddConfigCommands(core_);
    AddMessageCommands(core_);
    AddWindowCommands(core_, libraries_[1], libraries_[2], libraries_[4]);
}

Runtime::~Runtime() = default;

void Runtime::SetFrontEnd(std::unique_ptr<FrontEnd> frontEnd) { frontEnd_ = std::move(frontEnd); }

void Runtime::Fail(int32_t kind, const ErrorSite &site, std::string_view detail) {
    std::string message = DescribeError(kind, site, detail);
    if (errorHandler_) errorHandler_(kind, site, message);
    frontEnd_->ShowMessage(Utf8ToGbk(message), 0, std::string_view("Runtime error"));
    frontEnd_->Shutdown(); // a terminal is put back before the message is printed on it
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(nullptr);
    std::_Exit(1);
}

RtResult Runtime::CoreCommand(uint32_t command, std::span<const RtTriple> triples) {
    Args args(*this, 0, command, triples);
    CommandFn fn = core_.find(command);
    if (!fn) args.fail(RtErrorUnknownCommand, "no such command");
    return fn(args);
}

RtResult Runtime::LibraryCommand(uint32_t row, uint32_t command, std::span<const RtTriple> triples) {
    Args args(*this, row, command, triples);
    CommandFn fn = row < libraries_.size() ? (row == 0 ? core_ : libraries_[row]).find(command) : nullptr;
    if (!fn) args.fail(RtErrorUnknownCommand, "no such command in this library");
    return fn(args);
}

std::string Runtime::ProgramFolder() const {
    {
        std::lock_guard lock(folderMutex_);
        if (!programFolder_.empty()) return programFolder_;
    }
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string exe(path, size_t(n));
    size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

void Runtime::SetProgramFolder(std::string folder) {
    std::lock_guard lock(folderMutex_);
    programFolder_ = std::move(folder);
}

void Runtime::Exit(int32_t code) {
    frontEnd_->Shutdown();
    std::fflush(nullptr);
    // The trace thread may still be inside a probe; ending the process must not wait for it.
    std::_Exit(code);
}

// ---- Arguments ---------------------------------------------------------------------------------

void Args::fail(int32_t kind, std::string_view detail) const {
    ErrorSite site;
    site.command = command_;
    site.library = library_;
    runtime_.Fail(kind, site, detail);
}

std::string_view Args::text(size_t i) const {
    if (omitted(i)) return {};
    if (type(i) != RtTypeText) fail(RtErrorNotConvertible, "argument " + std::to_string(i + 1) + " is not a text");
    const char *p = reinterpret_cast<const char *>(static_cast<uintptr_t>(raw(i)));
    return p ? std::string_view(p) : std::string_view();
}

std::span<const uint8_t> Args::bytes(size_t i) const {
    if (omitted(i)) return {};
    if (type(i) != RtTypeBytes) fail(RtErrorNotConvertible, "argument " + std::to_string(i + 1) + " is not a byte set");
    const uint8_t *array = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(raw(i)));
    if (!array) return {};
    // Byte sets in the image's constants are not aligned: their words are read byte-wise.
    auto word = [&](uint32_t k) {
        uint32_t w;
        std::memcpy(&w, array + 4 * k, 4);
        return w;
    };
    uint32_t dims = word(0);
    uint64_t count = dims == 0 ? 0 : 1;
    for (uint32_t d = 0; d < dims; ++d) {
        count *= word(1 + d);
        if (count > UINT32_MAX) fail(RtErrorBadArgument, "byte set larger than 4 GiB");
    }
    return {array + 4 * (1 + dims), size_t(count)};
}

int64_t Args::integer(size_t i, int64_t fallback) const {
    if (omitted(i)) return fallback;
    uint64_t v = raw(i);
    switch (type(i)) {
    case RtTypeByte: return int64_t(uint8_t(v));
    case RtTypeShort: return int64_t(int16_t(uint16_t(v)));
    case RtTypeInt: return int64_t(int32_t(uint32_t(v)));
    case RtTypeLong: return int64_t(v);
    case RtTypeFloat:
    case RtTypeDouble: {
        double d = real(i);
        if (!(d > -9.3e18 && d < 9.3e18)) fail(RtErrorNotConvertible, "number out of the integer range");
        return int64_t(d);
    }
    default: fail(RtErrorNotConvertible, "argument " + std::to_string(i + 1) + " is not a number");
    }
}

double Args::real(size_t i, double fallback) const {
    if (omitted(i)) return fallback;
    uint64_t v = raw(i);
    switch (type(i)) {
    case RtTypeFloat: return double(std::bit_cast<float>(uint32_t(v)));
    case RtTypeDouble: return std::bit_cast<double>(v);
    case RtTypeByte:
    case RtTypeShort:
    case RtTypeInt:
    case RtTypeLong: return double(integer(i));
    default: fail(RtErrorNotConvertible, "argument " + std::to_string(i + 1) + " is not a number");
    }
}

int64_t Args::count(size_t i, int64_t fallback) const {
    int64_t n = integer(i, fallback);
    if (n < 0) fail(RtErrorNegativeCount, "argument " + std::to_string(i + 1) + " is " + std::to_string(n));
    return n;
}

uintptr_t Args::routine(size_t i) const {
    if (type(i) != RtTypeRoutine) fail(RtErrorNotConvertible, "argument " + std::to_string(i + 1) + " is not a routine");
    return static_cast<uintptr_t>(raw(i));
}

Args::Unit Args::unit(size_t i) const {
    if (omitted(i)) fail(RtErrorBadArgument, "argument " + std::to_string(i + 1) + " must be a unit");
    const RtTriple &t = triples_[i];
    // A unit's type word is a unit type identifier: a library row (1 to 5) in its high half.
    if ((t.type & 0x80000000u) != 0 || (t.type >> 16) == 0 || (t.type >> 16) > 5)
        fail(RtErrorNotConvertible, "argument " + std::to_string(i + 1) + " is not a unit");
    return Unit{t.low, t.high, t.type};
}

// ---- Results -----------------------------------------------------------------------------------

RtResult ResultOfText(std::string_view text) {
    char *p = static_cast<char *>(Runtime::Allocate(text.size() + 1));
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    p[text.size()] = 0;
    return RtResult{reinterpret_cast<uintptr_t>(p), RtTypeText};
}

RtResult ResultOfBytes(std::span<const uint8_t> bytes) {
    auto *words = static_cast<uint32_t *>(Runtime::Allocate(8 + bytes.size()));
    words[0] = 1;
    words[1] = uint32_t(bytes.size());
    if (!bytes.empty()) std::memcpy(words + 2, bytes.data(), bytes.size());
    return RtResult{reinterpret_cast<uintptr_t>(words), RtTypeBytes};
}

RtResult ResultOfTextArray(std::span<const std::string_view> texts) {
    auto *words = static_cast<uint32_t *>(Runtime::Allocate(8 + texts.size() * sizeof(char *)));
    words[0] = 1;
    words[1] = uint32_t(texts.size());
    auto *elements = reinterpret_cast<char **>(words + 2);
    for (size_t i = 0; i < texts.size(); ++i)
        elements[i] = reinterpret_cast<char *>(static_cast<uintptr_t>(ResultOfText(texts[i]).value));
    return RtResult{reinterpret_cast<uintptr_t>(words), RtTypeText};
}

RtResult ResultOfDouble(double v) { return RtResult{std::bit_cast<uint64_t>(v), RtTypeDouble}; }

// ---- GBK <-> UTF-8 -----------------------------------------------------------------------------

namespace {

// An iconv descriptor per thread and direction, opened once: conversions sit on every cell and text
// property the window shows.
class Converter {
  public:
    Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != iconv_t(-1)) iconv_close(cd_);
    }
    std::string operator()(std::string_view in) {
        if (cd_ == iconv_t(-1)) return std::string(in);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        std::string out(in.size() * 4 + 4, '\0');
        char *src = const_cast<char *>(in.data());
        size_t srcLeft = in.size();
        char *dst = out.data();
        size_t dstLeft = out.size();
        while (srcLeft > 0) {
            if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) != size_t(-1)) break;
            if (errno == E2BIG || dstLeft == 0) break; // cannot happen with 4 bytes per input byte
            // An invalid or incomplete sequence: show one '?' and skip a byte.
            *dst++ = '?';
            --dstLeft;
            ++src;
            --srcLeft;
        }
        out.resize(out.size() - dstLeft);
        return out;
    }

  private:
    iconv_t cd_;
};

} // namespace

std::string GbkToUtf8(std::string_view gbk) {
    thread_local Converter convert("UTF-8", "GBK");
    return convert(gbk);
}
std::string Utf8ToGbk(std::string_view utf8) {
    thread_local Converter convert("GBK", "UTF-8");
    return convert(utf8);
}

} // namespace rt
