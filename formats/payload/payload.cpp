#include "payload.h"

#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>

#include "formats/byte_reader.h"

namespace payload {

std::string_view Describe(Error e) {
    switch (e) {
    case Error::None: return "";
    case Error::InvalidData: return "Invalid data in the file!";
    case Error::ReadFailed: return "Failed to read data from the file!";
    case Error::ReadOrInvalid: return "Failed to read file or invalid data in file!";
    case Error::NoMemory: return "Insufficient memory!";
    case Error::DecompressFailed: return "Failed to decompress data!";
    }
    return "";
}

std::optional<uint64_t> MemorySource::SeekFromEnd(uint64_t back) {
    if (back > bytes_.size()) return std::nullopt;
    position_ = bytes_.size() - size_t(back);
    return position_;
}

std::optional<size_t> MemorySource::Read(uint8_t *out, size_t n) {
    size_t take = std::min(n, bytes_.size() - position_);
    std::memcpy(out, bytes_.data() + position_, take);
    position_ += take;
    return take;
}

std::optional<uint64_t> FileSource::SeekFromEnd(uint64_t back) {
    if (back > uint64_t(INT64_MAX)) return std::nullopt;
    off_t at = ::lseek(fd_, -off_t(back), SEEK_END);
    if (at < 0) return std::nullopt;
    return uint64_t(at);
}

std::optional<size_t> FileSource::Read(uint8_t *out, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd_, out + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return std::nullopt;
        if (r == 0) break;
        got += size_t(r);
    }
    return got;
}

void ScramblePayload(uint8_t *bytes, int64_t count, uint32_t key) {
    for (int64_t j = 0; j < count; ++j) bytes[j] ^= uint8_t(key >> (8 * ((j + 1) % 4)));
}

namespace {
uint32_t LoadU32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void StoreU32(std::vector<uint8_t> &out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
} // namespace

Result<std::vector<uint8_t>> ReadPayloadBlock(Source &source) {
    auto p = source.SeekFromEnd(kTrailerSize);
    // The trailer position must leave room for an executable in front of the payload.
    if (!p || *p < kMinTrailerPosition || *p > UINT32_MAX) return Error::InvalidData;
    uint8_t trailer[kTrailerSize];
    auto got = source.Read(trailer, sizeof trailer);
    if (!got || *got != sizeof trailer) return Error::ReadFailed;
    int32_t blockSize = int32_t(LoadU32(trailer));
    if (LoadU32(trailer + 4) != kMagic || blockSize < 4 || uint64_t(blockSize) >= *p) return Error::InvalidData;

    std::vector<uint8_t> block;
    try {
        block.resize(size_t(blockSize));
    } catch (const std::bad_alloc &) {
        return Error::NoMemory;
    }
    if (!source.SeekFromEnd(uint64_t(blockSize) + kTrailerSize)) return Error::ReadOrInvalid;
    got = source.Read(block.data(), block.size());
    if (!got || *got != block.size() || LoadU32(block.data()) != kMagic) return Error::ReadOrInvalid;
    return block;
}

Result<DecodedBlock> DecodePayloadBlock(std::vector<uint8_t> &block) {
    // The fixed fields in front of the scrambled run must be there before anything is read.
    if (block.size() < kScrambled) return Error::InvalidData;
    ByteReader plain(block);
    DecodedBlock d{};
    d.folderId = *plain.u32le(kFolderId);
    uint32_t key = *plain.u32le(kKey);
    ScramblePayload(block.data() + kScrambled, int64_t(block.size() - kScrambled), key);

    ByteReader r(block);
    auto name = r.text(kScrambled);
    if (!name) return Error::InvalidData; // the folder name has no NUL inside the block
    size_t after = kScrambled + name->size() + 1;
    auto tableMagic = r.u32le(after);
    auto tableSize = r.u32le(after + 4);
    if (!tableMagic || !tableSize) return Error::InvalidData; // too short for the table fields
    d.folderName = std::string(*name);
    d.tableSize = int32_t(*tableSize);
    if (*tableMagic != kTableMagic || d.tableSize <= 0 || int32_t(block.size()) <= 20) return Error::InvalidData;
    d.streamOffset = after + 8;
    d.streamLength = block.size() - d.streamOffset;
    return d;
}

Result<std::vector<uint8_t>> InflateFileTable(const uint8_t *stream, size_t length, int32_t tableSize) {
    if (tableSize <= 0 || length == 0 || length > UINT32_MAX) return Error::DecompressFailed;
    std::vector<uint8_t> table;
    try {
        table.resize(size_t(tableSize));
    } catch (const std::bad_alloc &) {
        return Error::NoMemory;
    }
    // zlib's reference loop, with the output capped at the declared size: the stream must end within
    // it and its Adler-32 check must match, as the one-shot uncompress demands.
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return Error::DecompressFailed;
    z.next_in = const_cast<Bytef *>(stream);
    z.avail_in = uInt(length);
    z.next_out = table.data();
    z.avail_out = uInt(table.size());
    int status;
    do status = inflate(&z, Z_NO_FLUSH);
    while (status == Z_OK && z.avail_out > 0);
    if (status == Z_OK && z.avail_out == 0) {
        // The table is full: only the stream's end (its check value) may still follow.
        uint8_t extra;
        z.next_out = &extra;
        z.avail_out = 1;
        status = inflate(&z, Z_NO_FLUSH);
        if (status == Z_OK && z.avail_out == 0) status = Z_BUF_ERROR; // a byte more than declared
    }
    size_t produced = z.total_out;
    inflateEnd(&z);
    if (status != Z_STREAM_END || produced > table.size()) return Error::DecompressFailed;
    table.resize(produced);
    return table;
}

Result<FileEntry> NextFileEntry(std::span<const uint8_t> table, size_t position) {
    ByteReader r(table);
    auto name = r.text(position);
    if (!name) return Error::InvalidData;
    size_t lengthAt = position + name->size() + 1;
    auto length = r.u32le(lengthAt);
    if (!length) return Error::InvalidData;
    auto content = r.span(lengthAt + 4, *length);
    if (!content) return Error::InvalidData;
    return FileEntry{*name, *content, lengthAt + 4 + *length};
}

bool IsSafeName(std::string_view name) {
    if (name.empty() || name.find_first_of("/\\:<>\"|?*") != std::string_view::npos) return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    // Windows drops dots and spaces at the end of a name ("..." is the folder itself).
    if (name.back() == '.' || name.back() == ' ') return false;
    // Nor may it name a device, whatever follows a dot: "NUL", "con.txt", "COM1".
    std::string stem(name.substr(0, name.find('.')));
    for (char &c : stem) c = char(std::toupper(static_cast<unsigned char>(c)));
    static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char *device : kDevices)
        if (stem == device) return false;
    bool numbered =
        stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' && stem[3] <= '9';
    return !numbered;
}

std::vector<uint8_t> BuildFileTable(const std::vector<PayloadFile> &files) {
    std::vector<uint8_t> table;
    for (const PayloadFile &f : files) {
        table.insert(table.end(), f.name.begin(), f.name.end());
        table.push_back(0);
        StoreU32(table, uint32_t(f.content.size()));
        table.insert(table.end(), f.content.begin(), f.content.end());
    }
    return table;
}

std::vector<uint8_t> Compress(std::span<const uint8_t> bytes) {
    uLongf size = compressBound(uLong(bytes.size()));
    std::vector<uint8_t> out(size);
    compress2(out.data(), &size, bytes.data(), uLong(bytes.size()), Z_BEST_COMPRESSION);
    out.resize(size);
    return out;
}

std::vector<uint8_t> AssembleBlock(uint32_t folderId, std::string_view folderName, uint32_t key, uint32_t tableMagic,
                                   int32_t tableSize, std::span<const uint8_t> stream) {
    std::vector<uint8_t> block;
    StoreU32(block, kMagic);
    StoreU32(block, folderId);
    StoreU32(block, key);
    block.insert(block.end(), folderName.begin(), folderName.end());
    block.push_back(0);
    StoreU32(block, tableMagic);
    StoreU32(block, uint32_t(tableSize));
    block.insert(block.end(), stream.begin(), stream.end());
    ScramblePayload(block.data() + kScrambled, int64_t(block.size() - kScrambled), key);
    uint32_t size = uint32_t(block.size());
    StoreU32(block, size);
    StoreU32(block, kMagic);
    return block;
}

std::vector<uint8_t> BuildPayload(const std::vector<PayloadFile> &files, uint32_t folderId, std::string_view folderName,
                                  uint32_t key) {
    std::vector<uint8_t> table = BuildFileTable(files);
    std::vector<uint8_t> stream = Compress(table);
    return AssembleBlock(folderId, folderName, key, kTableMagic, int32_t(table.size()), stream);
}

} // namespace payload
