// The live view's screen: the rounds table's columns at 80 x 24 and wider, columns giving way with
// the place last, East Asian characters taking two columns, further responders on lines of their
// own, and nothing drawn past the terminal's edge.
#include <arpa/inet.h>

#include <clocale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/text/text.h"
#include "runtime/frontends/tui/layout.h"
#include "runtime/frontends/watch/watch_screen.h"

using rt::tui::DisplayWidth;
using namespace rt::watch;

namespace {

uint32_t Ip(const char *dotted) { return ::inet_addr(dotted); }

rt::HopStats Hop(int32_t n, std::vector<rt::ResponderStats> responders, uint32_t sent = 12, uint32_t received = 9) {
    rt::HopStats h;
    h.hop = n;
    h.sent = sent;
    h.received = received;
    h.lastMs = 1.25;
    h.averageMs = 12.5;
    h.bestMs = 0.5;
    h.worstMs = 130.75;
    h.deviationMs = 3.25;
    h.jitterMs = 2.0;
    h.responders = std::move(responders);
    return h;
}

// The namespace network's path: its places in GBK, as the program's rows hold them.
rt::PathStats FourHops(const std::string &placeUtf8 = "测试网 tty") {
    std::string place = rt::Utf8ToGbk(placeUtf8);
    rt::PathStats s;
    s.address = Ip("203.0.113.2");
    s.rounds = 12;
    s.reached = true;
    s.hops = {Hop(1, {{Ip("192.0.2.2"), 9, place}}), Hop(2, {{Ip("198.51.100.2"), 9, place}}),
              Hop(3, {{Ip("198.51.100.6"), 9, place}}), Hop(4, {{Ip("203.0.113.2"), 9, place}})};
    return s;
}

std::string AsOf(uint32_t address) {
    return address == Ip("198.51.100.2") ? "AS4134 CHINANET-BACKBONE No.31,Jin-rong Street" : "-";
}

const std::vector<std::string> kTitles = {"Hop", "Address", "Place", "Loss%", "Snt", "Last",
                                          "Avg", "Best",    "Wrst",  "StDev", "Jttr"};

// The column (in display columns) where a text starts on a line, or -1.
int ColumnOf(const std::string &line, const std::string &text) {
    size_t at = line.find(text);
    return at == std::string::npos ? -1 : DisplayWidth(line.substr(0, at));
}

class WatchScreen : public ::testing::Test {
  protected:
    void SetUp() override { std::setlocale(LC_CTYPE, "C.UTF-8"); }
};

} // namespace

TEST_F(WatchScreen, EveryColumnAtEightyByTwentyFourAndWider) {
    rt::PathStats stats = FourHops();
    for (auto [columns, rows] : {std::pair{80, 24}, std::pair{120, 40}}) {
        SCOPED_TRACE(std::to_string(columns) + " x " + std::to_string(rows));
        Screen s = ComposeScreen({"target.test", &stats, Activity::Paused, AsOf}, columns, rows);
        ASSERT_EQ(s.lines.size(), size_t(kLinesAboveTable + 4));
        EXPECT_NE(s.lines[0].find("routetrace: target.test (203.0.113.2)"), std::string::npos) << s.lines[0];
        EXPECT_NE(s.lines[0].find("rounds: 12"), std::string::npos) << s.lines[0];
        EXPECT_NE(s.lines[1].find("paused"), std::string::npos) << s.lines[1];
        for (const std::string &title : kTitles) EXPECT_GE(ColumnOf(s.lines[size_t(s.headerLine)], title), 0) << title;
        EXPECT_NE(s.lines[5].find("198.51.100.2 测试网 tty AS4134"), std::string::npos) << s.lines[5];
        for (const std::string &line : s.lines) EXPECT_LE(DisplayWidth(line), columns) << line;
        // The figures, one decimal each, under their titles.
        EXPECT_NE(s.lines[4].find("25.0%  12  1.2 12.5  0.5 130.8   3.2  2.0"), std::string::npos) << s.lines[4];
    }
}

TEST_F(WatchScreen, ColumnsGiveWayWithThePlaceLast) {
    rt::PathStats stats = FourHops("美国加利福尼亚州圣克拉拉山景城 谷歌公司");
    struct Case {
        int columns;
        std::vector<std::string> shown, gone;
        std::string placeStart; // what the place column shows of the long place, at least
    };
    const Case cases[] = {
        {200,
         {"AS4134 CHINANET-BACKBONE No.31,Jin-rong Street", "Jttr"},
         {},
         "美国加利福尼亚州圣克拉拉山景城 谷歌公司"},
        {120, {"AS4134 CHINANET", "Jttr"}, {}, "美国加利福尼亚州圣克拉拉山景城"},
        {90, {"AS4134", "Jttr"}, {"CHINANET"}, "美国加利福尼亚州圣克拉"},
        {80, {"AS4134", "StDev"}, {"Jttr"}, "美国加利福尼亚州"},
        {60, {"Last", "Best"}, {"Wrst", "StDev", "AS4134"}, "美国加利福尼亚州"},
        {45, {"Place", "Loss%", "Snt", "Avg"}, {"Last"}, "美国加利福尼"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.columns);
        Screen s = ComposeScreen({"x", &stats, Activity::Running, AsOf}, c.columns, 24);
        std::string header = s.lines[size_t(s.headerLine)], hop2 = s.lines[size_t(s.headerLine) + 2];
        for (const std::string &line : s.lines) EXPECT_LE(DisplayWidth(line), c.columns) << line;
        for (const std::string &t : c.shown)
            EXPECT_TRUE(header.find(t) != std::string::npos || hop2.find(t) != std::string::npos) << t << "\n"
                                                                                                  << header << "\n"
                                                                                                  << hop2;
        for (const std::string &t : c.gone)
            EXPECT_EQ(header.find(t) == std::string::npos && hop2.find(t) == std::string::npos, true) << t << "\n"
                                                                                                      << header << "\n"
                                                                                                      << hop2;
        EXPECT_NE(hop2.find(c.placeStart), std::string::npos) << hop2;
    }
}

TEST_F(WatchScreen, WideCharactersTakeTwoColumnsAndColumnsAlign) {
    rt::PathStats stats = FourHops();
    stats.hops[0].responders[0].place = rt::Utf8ToGbk("江苏南京 电信");
    stats.hops[1].responders[0].place = "TEST-NET";
    stats.hops[2].responders[0].place = rt::Utf8ToGbk("美国加利福尼亚州圣克拉拉山景城"); // clipped at a character
    Screen s = ComposeScreen({"x", &stats, Activity::Running, {}}, 80, 24);
    int loss = ColumnOf(s.lines[size_t(s.headerLine)], "Loss%");
    ASSERT_GT(loss, 0);
    for (int i = 0; i < 4; ++i) {
        const std::string &line = s.lines[size_t(s.headerLine + 1 + i)];
        EXPECT_EQ(ColumnOf(line, "%") + 1, loss + 5) << line; // "25.0%" ends where its title does
    }
}

TEST_F(WatchScreen, FurtherRespondersAndWhatDoesNotFit) {
    rt::PathStats stats = FourHops();
    stats.hops[1].responders.push_back({Ip("198.51.100.9"), 3, rt::Utf8ToGbk("边\x1b[31m界")});
    stats.hops[2] = Hop(3, {}, 12, 0); // silent: no address, no round trips
    Screen s = ComposeScreen({"x", &stats, Activity::Running, {}}, 80, 24);
    ASSERT_EQ(s.lines.size(), size_t(kLinesAboveTable + 5));
    const std::string &further = s.lines[6];
    EXPECT_NE(further.find("198.51.100.9"), std::string::npos) << further;
    EXPECT_NE(further.find("边?[31m界"), std::string::npos) << "a control character is drawn as ?: " << further;
    EXPECT_EQ(further.find('%'), std::string::npos) << "the figures are the hop's, on its own line: " << further;
    EXPECT_EQ(further.substr(0, 4), "    ") << "no hop number: " << further;
    EXPECT_NE(s.lines[7].find("  3 *"), std::string::npos) << s.lines[7];
    EXPECT_NE(s.lines[7].find("100.0%  12"), std::string::npos) << s.lines[7];
    EXPECT_EQ(s.lines[7].find(".5"), std::string::npos) << "no round trips without an answer: " << s.lines[7];
    EXPECT_EQ(s.lines[7].substr(s.lines[7].size() - 4), "   -") << s.lines[7];

    // A path longer than the terminal: the last line counts what is not shown.
    while (stats.hops.size() < 30) stats.hops.push_back(Hop(int32_t(stats.hops.size() + 1), {}));
    s = ComposeScreen({"x", &stats, Activity::Running, {}}, 80, 24);
    ASSERT_EQ(s.lines.size(), 24u);
    EXPECT_EQ(s.lines.back(), "... 12 more lines below");
}
