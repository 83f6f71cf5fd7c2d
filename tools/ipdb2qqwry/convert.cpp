#include "convert.h"

#include <map>
#include <unordered_map>

#include "formats/text/text.h"

namespace convert {

std::string_view Describe(Error e) {
    switch (e) {
    case Error::Source: return "the ipdb file is malformed";
    case Error::TooLarge: return "the database would be larger than the 16 MiB its positions reach";
    case Error::WriteFailed: return "the database could not be written";
    }
    return "unknown problem";
}

namespace {

std::string_view Field(const std::vector<std::string_view> &fields, const std::vector<std::string> &names,
                       std::string_view name) {
    for (size_t i = 0; i < names.size() && i < fields.size(); ++i)
        if (names[i] == name) return fields[i];
    return {};
}

// Appends each non-empty part that does not repeat the one before it.
std::string JoinParts(std::initializer_list<std::string_view> parts, std::string_view separator) {
    std::string out;
    std::string_view previous;
    for (std::string_view part : parts) {
        if (part.empty() || part == previous) continue;
        if (!out.empty()) out += separator;
        out += part;
        previous = part;
    }
    return out;
}

constexpr uint32_t kMaxPosition = 1u << 24; // positions are three bytes

// Writes the database as it goes: texts and records where they are first needed, then the index.
//
// The 2026 data has about 1.5 million ranges; with a record of its own each, the records would pass
// the 16 MiB that 3-byte positions reach. So the ranges are written contiguous (addresses without a
// record get an empty place), each ends where the next index entry starts, and every range with the
// same place shares one record, whose end address is the end of the address space. The lookup finds
// the last entry that starts at or below an address, and its end check always holds.
class Writer {
  public:
    explicit Writer(FILE *out) : out_(out) { Put(std::string(8, '\0')); } // the header, written last

    void Add(uint32_t first, const std::string &country, const std::string &area) {
        index_.push_back({first, Record(country, area)});
    }

    // The index behind the records, and the header in front.
    bool Finish() {
        recordsEnd_ = at_;
        uint32_t firstIndex = at_;
        for (const auto &[start, record] : index_) Put(U32(start) + Pos3(record));
        uint32_t lastIndex = index_.empty() ? firstIndex : at_ - 7;
        if (std::fflush(out_) != 0 || std::fseek(out_, 0, SEEK_SET) != 0) failed_ = true;
        std::string header = U32(firstIndex) + U32(lastIndex);
        if (std::fwrite(header.data(), 1, header.size(), out_) != header.size() || std::fflush(out_) != 0)
            failed_ = true;
        return !failed_;
    }

    // Whether a record or text lies beyond what a 3-byte position reaches (the index may).
    bool tooLarge() const { return recordsEnd_ >= kMaxPosition; }
    uint32_t size() const { return at_; }
    uint64_t texts() const { return texts_.size(); }
    uint64_t records() const { return records_.size(); }
    uint64_t ranges() const { return index_.size(); }

  private:
    static std::string U32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

    // The record of a place: the end of the address space, the country through mode 2, the area
    // through mode 2 (or in place when empty).
    uint32_t Record(const std::string &country, const std::string &area) {
        uint32_t countryAt = Text(country);
        uint32_t areaAt = area.empty() ? 0 : Text(area);
        auto [it, added] =
            records_.try_emplace(uint64_t(countryAt) << 32 | areaAt, at_); // a place by its texts' positions
        if (added)
            Put(U32(UINT32_MAX) + '\x02' + Pos3(countryAt) +
                (area.empty() ? std::string(1, '\0') : '\x02' + Pos3(areaAt)));
        return it->second;
    }
    static std::string Pos3(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16)}; }

    // Where a text is stored: written the first time it is needed.
    uint32_t Text(const std::string &text) {
        auto [it, added] = texts_.try_emplace(text, at_);
        if (added) Put(text + '\0');
        return it->second;
    }
    void Put(const std::string &bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) failed_ = true;
        at_ += uint32_t(bytes.size());
    }

    FILE *out_;
    uint32_t at_ = 0, recordsEnd_ = 0;
    bool failed_ = false;
    std::unordered_map<std::string, uint32_t> texts_;
    std::unordered_map<uint64_t, uint32_t> records_;
    std::vector<std::pair<uint32_t, uint32_t>> index_;
};

// UTF-8 to GBK, each character GBK cannot hold written as '?' and counted; results kept, since the
// same few thousand texts recur over hundreds of thousands of ranges.
class GbkTexts {
  public:
    const std::string &operator()(const std::string &utf8) {
        auto it = cache_.find(utf8);
        if (it != cache_.end()) return it->second;
        std::string gbk;
        if (auto exact = rt::Utf8ToGbkExact(utf8)) gbk = *exact;
        else
            for (size_t i = 0; i < utf8.size();) {
                size_t n = 1;
                while (i + n < utf8.size() && (static_cast<unsigned char>(utf8[i + n]) & 0xC0) == 0x80) ++n;
                auto one = rt::Utf8ToGbkExact(utf8.substr(i, n));
                if (one) gbk += *one;
                else {
                    gbk += '?';
                    ++replaced;
                }
                i += n;
            }
        return cache_.emplace(utf8, std::move(gbk)).first->second;
    }
    uint64_t replaced = 0;

  private:
    std::unordered_map<std::string, std::string> cache_;
};

} // namespace

Place Compose(const std::vector<std::string_view> &fields, const std::vector<std::string> &names) {
    std::string_view country = Field(fields, names, "country_name"), region = Field(fields, names, "region_name"),
                     city = Field(fields, names, "city_name"), district = Field(fields, names, "district_name"),
                     owner = Field(fields, names, "owner_domain"), isp = Field(fields, names, "isp_domain");
    Place p;
    if (country == "中国") {
        p.country = JoinParts({region, city, district}, "");
        if (p.country.empty()) p.country = std::string(country);
    } else {
        p.country = JoinParts({country, region, city, district}, "");
    }
    p.area = JoinParts({owner, isp}, " ");
    return p;
}

rt::Result<Summary, Failure> Convert(std::span<const uint8_t> source, FILE *out) {
    auto reader = ipdb::Reader::Open(source);
    if (!reader) return Failure{Error::Source, rt::DescribeFinding(reader.error())};
    const std::vector<std::string> &names = reader->metadata().fields;
    Summary summary;
    Writer writer(out);
    GbkTexts gbk;
    // The range being built: adjacent ranges with the same place become one.
    bool pending = false;
    uint32_t first = 0, last = 0;
    Place place;
    auto flush = [&] {
        if (pending) writer.Add(first, gbk(place.country), gbk(place.area));
        pending = false;
    };
    auto walked =
        reader->ForEachIpv4Range([&](uint32_t from, uint32_t to, const std::vector<std::string_view> *fields) {
            ++summary.sourceRanges;
            Place p = fields ? Compose(*fields, names) : Place{};
            if (pending && p == place && from == last + 1) {
                last = to;
                return;
            }
            flush();
            pending = true;
            first = from;
            last = to;
            place = std::move(p);
        });
    if (!walked) return Failure{Error::Source, rt::DescribeFinding(walked.error())};
    flush();
    if (!writer.Finish()) return Failure{Error::WriteFailed, {}};
    if (writer.tooLarge()) return Failure{Error::TooLarge, std::to_string(writer.size()) + " bytes"};
    summary.ranges = writer.ranges();
    summary.records = writer.records();
    summary.texts = writer.texts();
    summary.replaced = gbk.replaced;
    summary.bytes = writer.size();
    return summary;
}

} // namespace convert
