#include "report_json.h"

#include <cmath>
#include <cstdio>
#include <utility>

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

// A figure rounded to thousandths, so that a document shows 0.3 rather than 0.30000000000000004.
Json Figure(double value) { return std::round(value * 1000) / 1000; }

// The version of the document over rounds, which grows only by adding fields.
constexpr int kRoundsVersion = 1;

Json RoundsHopJson(const HopStats &h, const AsTable *asn) {
    Json j;
    j["hop"] = h.hop;
    j["sent"] = h.sent;
    j["received"] = h.received;
    j["loss_pct"] = Figure(h.LossPercent());
    const std::pair<const char *, double> figures[] = {{"last_ms", h.lastMs},       {"avg_ms", h.averageMs},
                                                       {"best_ms", h.bestMs},       {"worst_ms", h.worstMs},
                                                       {"stdev_ms", h.deviationMs}, {"jitter_ms", h.jitterMs}};
    for (const auto &[key, ms] : figures) j[key] = h.received ? Figure(ms) : Json(nullptr);
    j["responders"] = Json::array();
    for (const ResponderStats &r : h.responders) {
        Json responder;
        responder["address"] = DottedAddress(r.address);
        responder["place"] = TextOrNull(r.place);
        responder["answers"] = r.answers;
        if (asn) {
            auto network = asn->Of(r.address);
            responder["asn"] = network ? Json(network->asn) : Json(nullptr);
            responder["as_name"] = network && !network->name.empty() ? Json(WellFormed(network->name)) : Json(nullptr);
        }
        j["responders"].push_back(std::move(responder));
    }
    return j;
}

} // namespace

std::string ReportJson(const ReportDocument &d) {
    char started[32] = "";
    if (const std::tm *t = std::gmtime(&d.started)) std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", t);
    Json j;
    if (d.stats) j["version"] = kRoundsVersion;
    j["target"] = WellFormed(d.target);
    j["address"] = d.address ? Json(DottedAddress(*d.address)) : Json(nullptr);
    j["started"] = started;
    j["max_hops"] = d.maxHops;
    j["wait"] = d.waitMs / 1000.0;
    j["size"] = d.size;
    if (d.stats) {
        j["cycles"] = d.cycles ? Json(d.cycles) : Json(nullptr); // null: until the live view was stopped
        j["interval"] = d.intervalMs / 1000.0;
        j["rounds"] = d.stats->rounds;
        j["rtt_precision_ms"] = 1; // the echo call measures whole milliseconds, on every platform
    }
    j["reached"] = d.reached;
    j["interrupted"] = d.interrupted;
    j["hops"] = Json::array();
    if (d.stats) {
        for (const HopStats &h : d.stats->hops) j["hops"].push_back(RoundsHopJson(h, d.asn));
        return Dump(j) + "\n";
    }
    for (const HopRecord &hop : d.hops) j["hops"].push_back(HopJson(hop, d.asn));
    return Dump(j) + "\n";
}

std::string JsonString(std::string_view utf8) { return Dump(Json(WellFormed(utf8))); }

} // namespace rt
