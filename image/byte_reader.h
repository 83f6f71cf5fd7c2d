// Bounded reads of untrusted bytes (packets, payloads, images, form segments).
// Every read checks `offset > size - n` (never `offset + n > size`, which can wrap) and reports
// failure instead of touching anything outside the span. Host code only; not part of the image.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

class ByteReader {
  public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t size() const { return bytes_.size(); }
    std::span<const uint8_t> bytes() const { return bytes_; }

    bool has(size_t offset, size_t n) const { return n <= bytes_.size() && offset <= bytes_.size() - n; }

    std::optional<uint8_t> u8(size_t offset) const {
        if (!has(offset, 1)) return std::nullopt;
        return bytes_[offset];
    }
    std::optional<uint16_t> u16be(size_t offset) const {
        if (!has(offset, 2)) return std::nullopt;
        return uint16_t(bytes_[offset] << 8 | bytes_[offset + 1]);
    }
    std::optional<uint16_t> u16le(size_t offset) const {
        if (!has(offset, 2)) return std::nullopt;
        return uint16_t(bytes_[offset] | bytes_[offset + 1] << 8);
    }
    std::optional<uint32_t> u32le(size_t offset) const {
        if (!has(offset, 4)) return std::nullopt;
        uint32_t v;
        std::memcpy(&v, bytes_.data() + offset, 4); // x86-64 is little-endian
        return v;
    }
    std::optional<uint64_t> u64le(size_t offset) const {
        if (!has(offset, 8)) return std::nullopt;
        uint64_t v;
        std::memcpy(&v, bytes_.data() + offset, 8);
        return v;
    }
    // Four bytes kept in the order they are stored (addresses in network byte order).
    std::optional<uint32_t> raw32(size_t offset) const { return u32le(offset); }

    std::optional<std::span<const uint8_t>> span(size_t offset, size_t n) const {
        if (!has(offset, n)) return std::nullopt;
        return bytes_.subspan(offset, n);
    }
    std::optional<ByteReader> sub(size_t offset, size_t n) const {
        auto s = span(offset, n);
        if (!s) return std::nullopt;
        return ByteReader(*s);
    }
    std::optional<ByteReader> from(size_t offset) const {
        if (offset > bytes_.size()) return std::nullopt;
        return ByteReader(bytes_.subspan(offset));
    }
    // A NUL-terminated text starting at offset; nothing when no NUL comes before the end.
    std::optional<std::string_view> text(size_t offset) const {
        if (offset >= bytes_.size()) return std::nullopt;
        const void *nul = std::memchr(bytes_.data() + offset, 0, bytes_.size() - offset);
        if (!nul) return std::nullopt;
        return std::string_view(reinterpret_cast<const char *>(bytes_.data() + offset),
                                size_t(static_cast<const uint8_t *>(nul) - (bytes_.data() + offset)));
    }

  private:
    std::span<const uint8_t> bytes_;
};
