#include "convert.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace asn2dat {
namespace {

// The fields of one CSV line: quoted fields may hold commas, and "" stands for a quote in them.
std::optional<std::vector<std::string>> Fields(std::string_view line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quoted) {
            if (c != '"') fields.back() += c;
            else if (i + 1 < line.size() && line[i + 1] == '"') fields.back() += line[++i];
            else quoted = false;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '"' && fields.back().empty()) {
            quoted = true;
        } else {
            fields.back() += c;
        }
    }
    if (quoted) return std::nullopt;
    return fields;
}

std::optional<uint32_t> Number(std::string_view s) {
    uint32_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

// An address as a number ("16777216") or dotted ("1.0.0.0"), in host byte order.
std::optional<uint32_t> Address(std::string_view s) {
    if (s.find('.') == std::string_view::npos) return Number(s);
    uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        size_t dot = part < 3 ? s.find('.') : s.size();
        if (dot == std::string_view::npos || dot == 0 || dot > 3) return std::nullopt;
        auto octet = Number(s.substr(0, dot));
        if (!octet || *octet > 255) return std::nullopt;
        value = value << 8 | *octet;
        s.remove_prefix(std::min(s.size(), dot + 1));
    }
    return value;
}

} // namespace

std::string_view Describe(Problem p) {
    switch (p) {
    case Problem::BadLine: return "a line is not FIRST,LAST,ASN,ORGANISATION";
    case Problem::BadAddress: return "an address is not an IPv4 address";
    case Problem::BadNumber: return "an AS number is not a number below 2^32";
    case Problem::Overlapping: return "two ranges start at the same address";
    }
    return "unknown problem";
}

rt::Result<std::vector<asn::Range>, Failure> ReadCsv(std::string_view csv) {
    std::vector<std::pair<size_t, asn::Range>> read; // with its line, for the message
    size_t number = 0;
    while (!csv.empty()) {
        size_t end = std::min(csv.find('\n'), csv.size());
        std::string_view line = csv.substr(0, end);
        csv.remove_prefix(std::min(csv.size(), end + 1));
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        auto fields = Fields(line);
        if (!fields || fields->size() != 4) return Failure{Problem::BadLine, number};
        auto first = Address((*fields)[0]), last = Address((*fields)[1]);
        if (!first || !last || *last < *first) return Failure{Problem::BadAddress, number};
        auto asn = Number((*fields)[2]);
        if (!asn) return Failure{Problem::BadNumber, number};
        read.push_back({number, {*first, *last, *asn, std::move((*fields)[3])}});
    }
    std::stable_sort(read.begin(), read.end(),
                     [](const auto &a, const auto &b) { return a.second.first < b.second.first; });
    std::vector<asn::Range> ranges;
    for (auto &[line, range] : read) {
        // A range that starts inside the one before it (the published table has one, where two
        // networks of one organisation meet) ends that one: the later announcement is the narrower.
        // What the one before held past it is left to nobody.
        if (!ranges.empty() && range.first <= ranges.back().last) {
            if (range.first == ranges.back().first) return Failure{Problem::Overlapping, line};
            ranges.back().last = range.first - 1;
        }
        asn::Range *before = ranges.empty() ? nullptr : &ranges.back();
        // Neighbours of one network are one range: a smaller file, the same answers.
        if (before && before->last + 1 == range.first && before->asn == range.asn && before->name == range.name)
            before->last = range.last;
        else ranges.push_back(std::move(range));
    }
    return ranges;
}

} // namespace asn2dat
