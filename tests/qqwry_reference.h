// A straightforward reader of QQWry.dat, written independently of the application's routines:
// the whole file in memory, a standard binary search, the same field rules. Tests compare the
// application's lookups against it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace rt::testing {

class QqwryReference {
  public:
    explicit QqwryReference(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        d_.assign(std::istreambuf_iterator<char>(in), {});
    }
    bool ok() const { return d_.size() >= 8; }

    std::string Lookup(uint32_t ip) const {
        uint32_t first = U32(0), last = U32(4);
        if (last < first) return "";
        uint32_t count = (last - first) / 7 + 1;
        // The last entry whose start is not above ip.
        uint32_t lo = 0, hi = count; // answer in [0, count)
        if (U32(first) > ip) return "";
        while (hi - lo > 1) {
            uint32_t mid = lo + (hi - lo) / 2;
            if (U32(first + mid * 7) <= ip) lo = mid;
            else hi = mid;
        }
        uint32_t record = Pos3(first + lo * 7 + 4);
        if (ip > U32(record)) return "";
        return Place(record + 4);
    }

  private:
    uint8_t At(size_t o) const { return o < d_.size() ? uint8_t(d_[o]) : 0; }
    uint32_t U32(size_t o) const { return At(o) | At(o + 1) << 8 | At(o + 2) << 16 | uint32_t(At(o + 3)) << 24; }
    uint32_t Pos3(size_t o) const { return At(o) | At(o + 1) << 8 | At(o + 2) << 16; }
    std::string TextAt(size_t o) const {
        std::string t;
        while (o < d_.size() && d_[o] != 0) t += d_[o++];
        return t;
    }
    static bool IsMode(uint8_t b) { return b == 1 || b == 2; }
    // Follows one more redirect at a target that starts with a mode byte.
    std::string Target(size_t r) const { return IsMode(At(r)) ? TextAt(Pos3(r + 1)) : TextAt(r); }
    std::string Country(size_t q, size_t &occupied) const {
        if (At(q) == 2) {
            occupied = 4;
            return Target(Pos3(q + 1));
        }
        std::string t = TextAt(q);
        occupied = t.size() + 1;
        return t;
    }
    std::string Area(size_t s) const { return IsMode(At(s)) ? Target(Pos3(s + 1)) : TextAt(s); }
    std::string Place(size_t p) const {
        size_t n = 0;
        std::string country, area;
        if (At(p) == 1) {
            size_t q = Pos3(p + 1);
            country = Country(q, n);
            area = Area(q + n);
        } else if (At(p) == 2) {
            country = Country(Pos3(p + 1), n);
            area = Area(p + 4);
        } else {
            country = Country(p, n);
            area = Area(p + n);
        }
        std::string trimmed = area;
        trimmed.erase(0, trimmed.find_first_not_of(" \t"));
        trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
        std::transform(trimmed.begin(), trimmed.end(), trimmed.begin(), [](char c) { return char(std::toupper(c)); });
        if (trimmed == "CZ88.NET") area.clear();
        if (area.empty()) return country;
        if (country.empty() || country == area) return area.empty() ? country : (country.empty() ? area : country);
        return country + " " + area;
    }

    std::string d_;
};

} // namespace rt::testing
