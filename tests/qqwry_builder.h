// Builds small location databases byte by byte, for the edge cases of the lookup.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace rt::testing {

class QqwryBuilder {
  public:
    QqwryBuilder() : data_(8, '\0') {}

    static std::string U32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
    static std::string Pos3(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16)}; }
    static std::string Text(const std::string &s) { return s + std::string(1, '\0'); }
    // A dotted address as a number, first byte highest.
    static uint32_t Ip(const char *dotted) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        std::sscanf(dotted, "%u.%u.%u.%u", &a, &b, &c, &d);
        return a << 24 | b << 16 | c << 8 | d;
    }
    static std::string Dotted(uint32_t ip) {
        return std::to_string(ip >> 24) + "." + std::to_string(ip >> 16 & 255) + "." + std::to_string(ip >> 8 & 255) +
               "." + std::to_string(ip & 255);
    }

    // Appends bytes; returns their position.
    uint32_t Put(const std::string &bytes) {
        uint32_t at = uint32_t(data_.size());
        data_ += bytes;
        return at;
    }
    // A record: end address, then the place fields as given. Returns the record's position.
    uint32_t Record(uint32_t end, const std::string &placeFields) { return Put(U32(end) + placeFields); }
    // A record with country and area stored in place.
    uint32_t Simple(uint32_t end, const std::string &country, const std::string &area) {
        return Record(end, Text(country) + Text(area));
    }
    void Index(uint32_t start, uint32_t record) { entries_.emplace_back(start, record); }

    // Index behind the records, header in front.
    std::string Finish() const {
        std::string out = data_;
        uint32_t first = uint32_t(out.size());
        for (auto [start, record] : entries_) out += U32(start) + Pos3(record);
        uint32_t last = entries_.empty() ? first : uint32_t(out.size() - 7);
        out.replace(0, 8, U32(first) + U32(last));
        return out;
    }

  private:
    std::string data_;
    std::vector<std::pair<uint32_t, uint32_t>> entries_;
};

} // namespace rt::testing
