#include "watch_screen.h"

#include <algorithm>
#include <cstdio>

#include "formats/text/text.h"
#include "runtime/core/trace_records.h"
#include "runtime/frontends/tui/layout.h"

namespace rt::watch {

namespace {

using tui::ClipToWidth;
using tui::DisplayWidth;

// A text clipped to the width, then padded with spaces to it (before it when aligned right).
std::string Fit(const std::string &text, int width, bool right) {
    std::string clipped(ClipToWidth(text, width));
    std::string pad(size_t(std::max(0, width - DisplayWidth(clipped))), ' ');
    return right ? pad + clipped : clipped + pad;
}

// One line of the terminal's width: `left` at the start, `right` at the end when both fit.
std::string Spread(const std::string &left, const std::string &right, int columns) {
    int rightWidth = DisplayWidth(right);
    if (right.empty() || DisplayWidth(left) + 1 + rightWidth > columns) return std::string(ClipToWidth(left, columns));
    return Fit(left, columns - rightWidth, false) + right;
}

std::string Figure(double value, const char *unit = "") {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%s", value, unit);
    return text;
}

struct Column {
    const char *title;
    bool right; // aligned right (the numbers)
    std::vector<std::string> cells;
    int natural = 0; // the width its title and cells need
    int width = 0;   // the width given; 0: not shown
};

enum Col { kHop, kAddress, kPlace, kAs, kLoss, kSent, kLast, kAverage, kBest, kWorst, kDeviation, kJitter, kCount };

// The table's cells, line by line: each hop with its first responder and the figures, then its
// further responders on lines of their own.
std::vector<Column> Cells(const ScreenState &state) {
    const char *titles[kCount] = {"Hop",  "Address", "Place", "AS",   "Loss%", "Snt",
                                  "Last", "Avg",     "Best",  "Wrst", "StDev", "Jttr"};
    std::vector<Column> c;
    for (int i = 0; i < kCount; ++i) c.push_back({titles[i], i != kAddress && i != kPlace && i != kAs, {}});
    auto line = [&](std::vector<std::string> cells) {
        cells.resize(kCount);
        for (int i = 0; i < kCount; ++i) c[size_t(i)].cells.push_back(ReplaceControls(cells[size_t(i)]));
    };
    auto responder = [&](const ResponderStats &r, std::vector<std::string> &cells) {
        cells[kAddress] = DottedAddress(r.address);
        cells[kPlace] = GbkToUtf8(r.place);
        if (state.asOf) cells[kAs] = state.asOf(r.address);
    };
    for (const HopStats &hop : state.stats ? state.stats->hops : std::vector<HopStats>{}) {
        std::vector<std::string> cells(kCount);
        cells[kHop] = std::to_string(hop.hop);
        cells[kAddress] = "*";
        if (!hop.responders.empty()) responder(hop.responders[0], cells);
        cells[kLoss] = Figure(hop.LossPercent(), "%");
        cells[kSent] = std::to_string(hop.sent);
        // A hop that never answered has no round trips: "-", as in the report's table.
        const std::pair<Col, double> times[] = {{kLast, hop.lastMs},           {kAverage, hop.averageMs},
                                                {kBest, hop.bestMs},           {kWorst, hop.worstMs},
                                                {kDeviation, hop.deviationMs}, {kJitter, hop.jitterMs}};
        for (auto [col, value] : times) cells[size_t(col)] = hop.received ? Figure(value) : "-";
        line(std::move(cells));
        for (size_t i = 1; i < hop.responders.size(); ++i) {
            std::vector<std::string> more(kCount);
            responder(hop.responders[i], more);
            line(std::move(more));
        }
    }
    for (Column &col : c) {
        col.natural = DisplayWidth(col.title);
        for (const std::string &cell : col.cells) col.natural = std::max(col.natural, DisplayWidth(cell));
    }
    return c;
}

// The columns' widths for the terminal's, in the order of giving way (see ComposeScreen).
void GiveWidths(std::vector<Column> &c, bool withAs, int columns) {
    auto used = [&] {
        int sum = 0, shown = 0;
        for (const Column &col : c)
            if (col.width > 0) sum += col.width, ++shown;
        return sum + std::max(0, shown - 1); // a space between columns
    };
    // What is left for a column not yet shown, after the space before it.
    auto left = [&](const Column &col) { return columns - used() - (col.width > 0 ? 0 : 1); };
    for (Col essential : {kHop, kAddress, kLoss, kSent, kAverage}) c[essential].width = c[essential].natural;

    Column &place = c[kPlace], &as = c[kAs];
    place.width = std::max(0, std::min({place.natural, kPlaceKept, left(place)}));
    // The AS number: the organisation's name, after the space, comes only with the room left over.
    int asNumber = DisplayWidth(as.title);
    for (const std::string &cell : as.cells)
        asNumber = std::max(asNumber, DisplayWidth(cell.substr(0, cell.find(' '))));
    for (Col next : {kLast, kBest, kWorst, kAs, kDeviation, kJitter}) {
        if (next == kAs && !withAs) continue;
        int wanted = next == kAs ? asNumber : c[next].natural;
        if (wanted > left(c[next])) break;
        c[next].width = wanted;
    }
    if (place.natural > place.width) place.width += std::max(0, std::min(place.natural - place.width, left(place)));
    if (as.width > 0) as.width += std::max(0, std::min(as.natural - as.width, left(as)));
}

std::string Row(const std::vector<Column> &c, size_t line) {
    std::string text;
    for (const Column &col : c) {
        if (col.width <= 0) continue;
        if (!text.empty()) text += ' ';
        text += Fit(line == SIZE_MAX ? col.title : col.cells[line], col.width, col.right);
    }
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

} // namespace

Screen ComposeScreen(const ScreenState &state, int columns, int rows) {
    Screen screen;
    if (columns <= 0 || rows <= 0) return screen;
    const PathStats *stats = state.stats;
    std::string title = "routetrace: " + ReplaceControls(state.target);
    if (stats && stats->address && DottedAddress(*stats->address) != state.target)
        title += " (" + DottedAddress(*stats->address) + ")";
    std::string rounds = "rounds: " + std::to_string(stats ? stats->rounds : 0);
    screen.lines.push_back(Spread(title, rounds, columns));
    screen.titleLine = 0;

    bool paused = state.activity == Activity::Paused || state.activity == Activity::Pausing;
    std::string keys = std::string("Keys: q quit  p ") + (paused ? "resume" : "pause") + "  r reset";
    const char *status[] = {"", "pausing after this round", "paused", "stopping after this round"};
    screen.lines.push_back(Spread(keys, status[int(state.activity)], columns));
    screen.lines.emplace_back();

    std::vector<Column> c = Cells(state);
    GiveWidths(c, bool(state.asOf), columns);
    screen.headerLine = int(screen.lines.size());
    screen.lines.push_back(Row(c, SIZE_MAX));
    size_t tableLines = c[kHop].cells.size();
    size_t room = size_t(std::max(0, rows - kLinesAboveTable));
    // What does not fit is counted on the last line, so a short terminal never hides hops silently.
    size_t shown = tableLines <= room ? tableLines : room > 0 ? room - 1 : 0;
    for (size_t i = 0; i < shown; ++i) screen.lines.push_back(Row(c, i));
    if (shown < tableLines && room > 0)
        screen.lines.push_back("... " + std::to_string(tableLines - shown) + " more lines below");
    for (std::string &line : screen.lines) line = std::string(ClipToWidth(line, columns));
    if (screen.lines.size() > size_t(rows)) screen.lines.resize(size_t(rows));
    return screen;
}

} // namespace rt::watch
