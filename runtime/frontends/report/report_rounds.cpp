#include "report_rounds.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "formats/text/text.h"

namespace rt {

namespace {

// A number with a fixed count of decimals.
std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A responder's place as the report shows it: UTF-8, control characters escaped.
std::string PlaceText(const ResponderStats &r) { return EscapeControls(GbkToUtf8(r.place)); }

// A responder's address; where a hop had several, with how many times each answered.
std::string AddressText(const HopStats &h, const ResponderStats &r) {
    std::string text = DottedAddress(r.address);
    return h.responders.size() > 1 ? text + " (" + std::to_string(r.answers) + ")" : text;
}

// The AS column of an address: "-" where the table names no network.
std::string AsText(const AsTable *asn, uint32_t address) { return asn ? AsTable::Column(asn->Of(address)) : ""; }

// The round-trip figures of a hop as cells: "-" where nothing answered.
std::vector<std::string> Figures(const HopStats &h) {
    std::vector<std::string> cells = {Fixed(h.LossPercent(), 1) + "%", std::to_string(h.sent)};
    for (double ms : {h.lastMs, h.averageMs, h.bestMs, h.worstMs, h.deviationMs, h.jitterMs})
        cells.push_back(h.received ? Fixed(ms, 1) : "-");
    return cells;
}

// A field of CSV: quoted where it holds a separator, a quote or a line break.
std::string CsvField(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

} // namespace

std::string RoundsTable(const PathStats &stats, const AsTable *asn) {
    // Every line as cells first: the text columns are as wide as their widest cell.
    const std::vector<std::string> heading = {"Hop",  "Address", "Place", "AS",   "Loss%", "Snt",
                                              "Last", "Avg",     "Best",  "Wrst", "StDev", "Jttr"};
    std::vector<std::vector<std::string>> lines = {heading};
    for (const HopStats &h : stats.hops) {
        std::vector<std::string> line = {std::to_string(h.hop), "*", "", asn ? "-" : ""};
        if (!h.responders.empty()) {
            const ResponderStats &first = h.responders.front();
            line = {std::to_string(h.hop), AddressText(h, first), PlaceText(first), AsText(asn, first.address)};
        }
        for (std::string &cell : Figures(h)) line.push_back(std::move(cell));
        lines.push_back(std::move(line));
        for (size_t i = 1; i < h.responders.size(); ++i) {
            const ResponderStats &r = h.responders[i];
            lines.push_back({"", AddressText(h, r), PlaceText(r), AsText(asn, r.address)});
        }
    }
    std::vector<size_t> widths(heading.size(), 0);
    for (const auto &line : lines)
        for (size_t c = 0; c < line.size(); ++c) widths[c] = std::max(widths[c], DisplayCells(line[c]));
    std::string out;
    for (const auto &line : lines) {
        std::string text;
        for (size_t c = 0; c < line.size(); ++c) {
            if (c == 3 && !asn) continue;
            const size_t pad = widths[c] - DisplayCells(line[c]);
            if (c < 4) text += line[c] + std::string(pad, ' ') + "  ";      // text to the left
            else text += std::string(pad + (c > 4 ? 1 : 0), ' ') + line[c]; // figures to the right
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out += text + "\n";
    }
    return out;
}

std::string RoundsCsv(const PathStats &stats, const AsTable *asn) {
    std::string out = "hop,address,place,loss_pct,sent,received,last_ms,avg_ms,best_ms,worst_ms,stdev_ms,jitter_ms,"
                      "answers";
    out += asn ? ",asn,as_name\n" : "\n";
    for (const HopStats &h : stats.hops) {
        std::string figures =
            "," + Fixed(h.LossPercent(), 1) + "," + std::to_string(h.sent) + "," + std::to_string(h.received);
        for (double ms : {h.lastMs, h.averageMs, h.bestMs, h.worstMs, h.deviationMs, h.jitterMs})
            figures += "," + (h.received ? Fixed(ms, 2) : std::string());
        auto line = [&](const std::string &address, const std::string &place, uint32_t answers, uint32_t from) {
            out += std::to_string(h.hop) + "," + CsvField(address) + "," + CsvField(place) + figures + "," +
                   std::to_string(answers);
            if (asn) {
                auto network = asn->Of(from);
                out += "," + (network ? std::to_string(network->asn) : std::string()) + "," +
                       (network ? CsvField(EscapeControls(std::string(network->name))) : std::string());
            }
            out += "\n";
        };
        if (h.responders.empty()) line("", "", 0, 0);
        for (const ResponderStats &r : h.responders) line(DottedAddress(r.address), PlaceText(r), r.answers, r.address);
    }
    return out;
}

} // namespace rt
