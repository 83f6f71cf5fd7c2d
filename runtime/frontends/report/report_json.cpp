#include "report_json.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "formats/text/text.h"

namespace rt {

namespace {

// Objects keep their fields in the order they are written.
using Json = nlohmann::ordered_json;

// The text with each byte that is not part of a well-formed character replaced by U+FFFD, one for
// each such byte (the library's handler would replace a sequence cut short at the end only once).
std::string WellFormed(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t n = Utf8CharLength(text.substr(i));
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

// The library escapes C0 controls only: DEL and the C1 controls are escaped here. The output is
// well-formed UTF-8 by then, where 0xC2 only ever starts a character.
std::string Dump(const Json &json) {
    std::string dumped = json.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string out;
    out.reserve(dumped.size());
    for (size_t i = 0; i < dumped.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(dumped[i]);
        unsigned char next = i + 1 < dumped.size() ? static_cast<unsigned char>(dumped[i + 1]) : 0;
        char hex[8];
        if (c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            std::snprintf(hex, sizeof hex, "\\u%04x", c == 0x7F ? c : next);
            out += hex;
            i += c == 0xC2;
        } else {
            out += char(c);
        }
    }
    return out;
}

// A record's text (GBK) as a string, or null where the program wrote nothing.
Json TextOrNull(const std::string &gbk) { return gbk.empty() ? Json(nullptr) : Json(WellFormed(GbkToUtf8(gbk))); }

// The hop's AS, where the table names one; null fields otherwise.
void AddAs(Json &j, const HopRecord &hop, const AsTable &table) {
    auto network = table.Of(hop);
    j["asn"] = network ? Json(network->asn) : Json(nullptr);
    j["as_name"] = network && !network->name.empty() ? Json(WellFormed(network->name)) : Json(nullptr);
}

Json HopJson(const HopRecord &hop, const AsTable *asn) {
    Json j;
    j["hop"] = hop.hop;
    if (hop.address.empty()) { // a silent hop
        for (const char *key : {"address", "place", "rtt_ms", "time"}) j[key] = nullptr;
        if (asn) j["asn"] = j["as_name"] = nullptr;
        return j;
    }
    j["address"] = TextOrNull(hop.address);
    j["place"] = TextOrNull(hop.place);
    j["rtt_ms"] = nullptr;
    for (const ProbeRecord &probe : hop.probes)
        if (probe.answer != AnswerKind::None) j["rtt_ms"] = probe.roundTripMs;
    j["time"] = TextOrNull(hop.timeText);
    if (asn) AddAs(j, hop, *asn);
    return j;
}

} // namespace

std::string ReportJson(const ReportDocument &d) {
    char started[32] = "";
    if (const std::tm *t = std::gmtime(&d.started)) std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", t);
    Json j;
    j["target"] = WellFormed(d.target);
    j["address"] = d.address ? Json(DottedAddress(*d.address)) : Json(nullptr);
    j["started"] = started;
    j["max_hops"] = d.maxHops;
    j["wait"] = d.waitMs / 1000.0;
    j["size"] = d.size;
    j["reached"] = d.reached;
    j["interrupted"] = d.interrupted;
    j["hops"] = Json::array();
    for (const HopRecord &hop : d.hops) j["hops"].push_back(HopJson(hop, d.asn));
    return Dump(j) + "\n";
}

std::string JsonString(std::string_view utf8) { return Dump(Json(WellFormed(utf8))); }

} // namespace rt
