// Report mode: the command line on its own, then the program's reports on the namespace network:
// client 192.0.2.1 -> r1 192.0.2.2 -> r2 198.51.100.2 -> r3 198.51.100.6 -> target 203.0.113.2.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "netns/namespace.h"
#include "product/command_line.h"
#include "history_file.h"
#include "program_folder.h"
#include "report_network.h"
#include "shell.h"

using namespace rt::testing;

namespace {

struct Parsed {
    product::Request request;
    std::string out, err;
};

Parsed Parse(std::vector<std::string> args) {
    Parsed p;
    char *out = nullptr, *err = nullptr;
    size_t outSize = 0, errSize = 0;
    FILE *o = ::open_memstream(&out, &outSize), *e = ::open_memstream(&err, &errSize);
    p.request = product::ParseCommandLine(args, o, e);
    std::fclose(o);
    std::fclose(e);
    p.out.assign(out, outSize);
    p.err.assign(err, errSize);
    std::free(out);
    std::free(err);
    return p;
}

TEST(ReportCommandLine, EachOptionReachesTheReport) {
    const struct {
        std::vector<std::string> args;
        int maxHops;
        uint32_t waitMs;
        const char *size; // "" when not given
        bool json, record;
    } cases[] = {
        {{"--report", "t"}, 30, 2400, "", false, false},
        {{"--report=t", "-m", "3"}, 3, 2400, "", false, false},
        {{"--report", "t", "-m255"}, 255, 2400, "", false, false},
        {{"--report", "t", "--max-hops", "1"}, 1, 2400, "", false, false},
        {{"--report", "t", "--max-hops=7"}, 7, 2400, "", false, false},
        {{"-w", "0.2", "--report", "t"}, 30, 200, "", false, false},
        {{"--report", "t", "--wait=10"}, 30, 10000, "", false, false},
        {{"--report", "t", "-w0.1"}, 30, 100, "", false, false},
        {{"--report", "t", "-s", "128"}, 30, 2400, "128", false, false},
        {{"--report", "t", "--size=32"}, 30, 2400, "32", false, false},
        {{"--report", "t", "-n", "-q", "1", "-c1", "--json"}, 30, 2400, "", true, false},
        {{"--report", "t", "--numeric", "--record"}, 30, 2400, "", false, true},
    };
    for (const auto &c : cases) {
        Parsed p = Parse(c.args);
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        ASSERT_TRUE(p.request.report) << p.err;
        EXPECT_FALSE(p.request.exitNow);
        EXPECT_EQ(p.err, "");
        const rt::ReportOptions &r = *p.request.report;
        EXPECT_EQ(r.target, "t");
        EXPECT_EQ(r.maxHops, c.maxHops);
        EXPECT_EQ(r.waitMs, c.waitMs);
        EXPECT_EQ(r.size.value_or(""), c.size);
        EXPECT_EQ(r.json, c.json);
        EXPECT_EQ(r.record, c.record);
    }
}

TEST(ReportCommandLine, RoundsAndTheirFormReachTheReport) {
    const struct {
        std::vector<std::string> args;
        uint32_t cycles, intervalMs;
        bool csv;
    } cases[] = {
        {{"--report", "t"}, 1, 1000, false},
        {{"--report", "t", "-c", "10", "-i", "0.2"}, 10, 200, false},
        {{"--report", "t", "--cycles=1000", "--interval=60", "--csv"}, 1000, 60000, true},
        {{"-c1", "-i0.1", "--report", "t"}, 1, 100, false},
    };
    for (const auto &c : cases) {
        Parsed p = Parse(c.args);
        ASSERT_TRUE(p.request.report) << p.err;
        EXPECT_EQ(p.request.report->cycles, c.cycles);
        EXPECT_EQ(p.request.report->intervalMs, c.intervalMs);
        EXPECT_EQ(p.request.report->csv, c.csv);
    }
}

TEST(ReportCommandLine, EachWrongArgumentEndsWithTwoItsMessageAndTheUsage) {
    const struct {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"--report"}, "--report needs a value"},
        {{"--report", "t", "--bogus"}, "unexpected argument \"--bogus\""},
        {{"--report", "t", "extra"}, "unexpected argument \"extra\""},
        {{"--report", "t", "--json=yes"}, "unexpected argument \"--json=yes\""},
        {{"--report", "t", "-m", "0"}, "-m takes a whole number from 1 to 255, not \"0\""},
        {{"--report", "t", "--max-hops", "256"}, "--max-hops takes a whole number from 1 to 255, not \"256\""},
        {{"--report", "t", "-m", "3x"}, "-m takes a whole number from 1 to 255, not \"3x\""},
        {{"--report", "t", "-m"}, "-m needs a value"},
        {{"--report", "t", "-w", "0.05"}, "-w takes seconds from 0.1 to 10, not \"0.05\""},
        {{"--report", "t", "--wait", "11"}, "--wait takes seconds from 0.1 to 10, not \"11\""},
        {{"--report", "t", "-w", "nan"}, "-w takes seconds from 0.1 to 10, not \"nan\""},
        {{"--report", "t", "-s", "500"}, "-s takes a whole number from 32 to 128, not \"500\""},
        {{"--report", "t", "--size", "abc"}, "--size takes a whole number from 32 to 128, not \"abc\""},
        {{"--report", "t", "--size", "31"}, "--size takes a whole number from 32 to 128, not \"31\""},
        {{"--report", "t", "-q", "3"}, "-q 3: one probe per hop is all this program sends"},
        {{"--report", "t", "-c", "0"}, "-c takes a whole number from 1 to 1000, not \"0\""},
        {{"--report", "t", "--cycles=1001"}, "--cycles takes a whole number from 1 to 1000, not \"1001\""},
        {{"--report", "t", "-i", "0.05"}, "-i takes seconds from 0.1 to 60, not \"0.05\""},
        {{"--report", "t", "--interval", "61"}, "--interval takes seconds from 0.1 to 60, not \"61\""},
        {{"--report", "t", "--json", "--csv"}, "--json and --csv cannot go together"},
    };
    for (const auto &c : cases) {
        Parsed p = Parse(c.args);
        EXPECT_EQ(p.request.exitNow, 2) << c.message;
        EXPECT_FALSE(p.request.report);
        EXPECT_EQ(p.out, "");
        EXPECT_EQ(p.err.rfind(std::string("routetrace: ") + c.message + "\nusage: routetrace", 0), 0u) << p.err;
    }
}

TEST(ReportCommandLine, HelpAndVersionAnswerOnStandardOutputWithZero) {
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"-h"}, {"--help"}, {"--report", "t", "--help"}}) {
        Parsed p = Parse(args);
        EXPECT_EQ(p.request.exitNow, 0);
        EXPECT_EQ(p.out.rfind("usage: routetrace", 0), 0u) << p.out;
        EXPECT_NE(p.out.find("--max-hops"), std::string::npos);
    }
    for (const char *flag : {"-V", "--version"}) {
        Parsed p = Parse({flag});
        EXPECT_EQ(p.request.exitNow, 0);
        EXPECT_EQ(p.out, std::string("routetrace ") + RT_VERSION + "\n");
    }
}

TEST(ReportCommandLine, WithoutReportArgumentsLeaveTheWindowToStart) {
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{}, {"/home/u/dropped file.txt"}, {"--json", "-m", "3"}}) {
        Parsed p = Parse(args);
        EXPECT_FALSE(p.request.exitNow);
        EXPECT_FALSE(p.request.report);
        EXPECT_EQ(p.err + p.out, "");
    }
}

TEST(ReportText, FieldsAndJsonStringsHoldWhateverTheyAreGiven) {
    const struct {
        std::string in, field, json;
    } cases[] = {
        {"a\tb\r\nc", "a\\tb\\r\\nc", "\"a\\tb\\r\\nc\""},
        {"\x1b[2J\x7f", "\\x1B[2J\\x7F", "\"\\u001b[2J\\u007f\""},
        {"\"\\", "\"\\", "\"\\\"\\\\\""},
        {"\xE6\xB5\x8B", "\xE6\xB5\x8B", "\"\xE6\xB5\x8B\""},        // 测, valid UTF-8
        {"\xB2\xE2x", "\xB2\xE2x", "\"\xEF\xBF\xBD\xEF\xBF\xBDx\""}, // GBK bytes are no UTF-8
        {"\xE6\xB5", "\xE6\xB5", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},    // cut short
        {"\x9B"
         "2J",
         "\\x9B2J",
         "\"\xEF\xBF\xBD"
         "2J\""}, // an 8-bit control
        // A surrogate and a code above U+10FFFF: each of their seven bytes is replaced in JSON; in a
        // field, those that would be 8-bit controls on their own are escaped.
        {"\xED\xA0\x80\xF4\x90\x80\x80", "\xED\xA0\\x80\xF4\\x90\\x80\\x80",
         "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(rt::EscapeControls(c.in), c.field);
        EXPECT_EQ(rt::JsonString(c.in), c.json);
        EXPECT_FALSE(QJsonDocument::fromJson(QByteArray::fromStdString("[" + rt::JsonString(c.in) + "]")).isNull());
    }
}

// ---- The program on the namespace network ----

TEST_F(ReportNetwork, MaxHopsThreePrintsThreeNumberedRowsAndEndsWithOne) {
    Outcome r = Report("--report target.test -m 3");
    EXPECT_EQ(r.code, 1) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    const char *addresses[] = {"192.0.2.2", "198.51.100.2", "198.51.100.6"};
    for (size_t i = 0; i < 3; ++i) {
        std::istringstream fields(lines[i]);
        std::string hop, address, place, time;
        std::getline(fields, hop, '\t');
        std::getline(fields, address, '\t');
        std::getline(fields, place, '\t');
        std::getline(fields, time, '\t');
        EXPECT_EQ(hop, std::to_string(i + 1));
        EXPECT_EQ(address, addresses[i]);
        EXPECT_EQ(place, "TEST-NET report");
        EXPECT_TRUE(TimeForm(time)) << time;
    }
}

TEST_F(ReportNetwork, ASilentTargetEndsAfterTheLastAllowedHopEveryHopNumbered) {
    Topology("silence " + prefix_ + " target");
    Outcome r = Report("--report 203.0.113.2 -w 0.2 -m 10");
    Shell("ip netns exec " + prefix_ + "-target sysctl -qw net.ipv4.icmp_echo_ignore_all=0");
    EXPECT_EQ(r.code, 1) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 10u) << r.out;
    EXPECT_EQ(lines[2].substr(0, 15), "3\t198.51.100.6\t");
    for (size_t i = 3; i < 10; ++i) EXPECT_EQ(lines[i], std::to_string(i + 1) + "\t*\t\t");
}

TEST_F(ReportNetwork, ASilentHopIsNumberedAndTheJsonIsTypedFieldByField) {
    Change("drop-time-exceeded", "r2", "restore-time-exceeded");
    Outcome text = Report("--report 203.0.113.2 -w 0.3");
    EXPECT_EQ(text.code, 0) << text.err;
    auto lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 4u) << text.out;
    EXPECT_EQ(lines[1], "2\t*\t\t");

    Outcome r = Report("--report target.test --json -w 0.3 -s 64");
    EXPECT_EQ(r.code, 0) << r.err;
    QJsonObject doc = Document(r.out);
    EXPECT_EQ(Text(doc["target"]), "target.test");
    EXPECT_EQ(Text(doc["address"]), "203.0.113.2");
    EXPECT_TRUE(std::regex_match(Text(doc["started"]), std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ")))
        << Text(doc["started"]);
    EXPECT_TRUE(doc["max_hops"].isDouble());
    EXPECT_EQ(doc["max_hops"].toInt(), 30);
    EXPECT_TRUE(doc["wait"].isDouble());
    EXPECT_DOUBLE_EQ(doc["wait"].toDouble(), 0.3);
    EXPECT_EQ(doc["size"].toInt(-1), 64);
    EXPECT_TRUE(doc["reached"].isBool() && doc["reached"].toBool());
    EXPECT_TRUE(doc["interrupted"].isBool() && !doc["interrupted"].toBool());
    QJsonArray hops = doc["hops"].toArray();
    ASSERT_EQ(hops.size(), 4);
    const char *addresses[] = {"192.0.2.2", nullptr, "198.51.100.6", "203.0.113.2"};
    for (int i = 0; i < 4; ++i) {
        QJsonObject hop = hops[i].toObject();
        SCOPED_TRACE(i);
        EXPECT_TRUE(hop["hop"].isDouble());
        EXPECT_EQ(hop["hop"].toInt(), i + 1);
        if (!addresses[i]) {
            for (const char *key : {"address", "place", "rtt_ms", "time"}) EXPECT_TRUE(hop[key].isNull()) << key;
            continue;
        }
        EXPECT_EQ(Text(hop["address"]), addresses[i]);
        EXPECT_EQ(Text(hop["place"]), "TEST-NET report");
        EXPECT_TRUE(hop["rtt_ms"].isDouble());
        EXPECT_GE(hop["rtt_ms"].toDouble(), 0);
        EXPECT_TRUE(hop["time"].isString() && TimeForm(Text(hop["time"]))) << Text(hop["time"]);
    }
}

TEST_F(ReportNetwork, AnInterruptedReportEndsWithTheSignalsCodeAndAWholeDocument) {
    // Hop 1 answers, every later hop waits long: the signal comes while the trace runs.
    Change("drop-time-exceeded", "r2", "restore-time-exceeded");
    std::filesystem::remove(folder_.file("QQWry.dat")); // its message marks the end of hop 1's row
    auto firstRowDone = [](const std::string &, const std::string &err) {
        return err.find("QQWry.dat") != std::string::npos;
    };
    Outcome r = Report("--report 203.0.113.2 --json -w 10", firstRowDone, SIGINT);
    EXPECT_EQ(r.code, 130) << r.err;
    QJsonObject doc = Document(r.out);
    EXPECT_TRUE(doc["interrupted"].toBool());
    EXPECT_TRUE(doc["reached"].isBool() && !doc["reached"].toBool());
    QJsonArray hops = doc["hops"].toArray();
    ASSERT_GE(hops.size(), 1);
    EXPECT_EQ(hops[0].toObject()["hop"].toInt(), 1);
    EXPECT_EQ(Text(hops[0].toObject()["address"]), "192.0.2.2");
    EXPECT_TRUE(hops[0].toObject()["place"].isNull());
    // Where it was looked for is said once, with the program's own message.
    EXPECT_EQ(Lines(r.err).size(), 2u) << r.err;
    EXPECT_NE(r.err.find(folder_.path().string()), std::string::npos) << r.err;

    // The text keeps the rows it printed.
    Outcome t = Report(
        "--report 203.0.113.2 -w 10", [](const std::string &out, const std::string &) { return !out.empty(); },
        SIGTERM);
    EXPECT_EQ(t.code, 143) << t.err;
    ASSERT_FALSE(Lines(t.out).empty());
    EXPECT_EQ(Lines(t.out)[0].substr(0, 12), "1\t192.0.2.2\t");
}

TEST_F(ReportNetwork, TheHistoryIsLeftAsItWasUnlessRecordIsGiven) {
    const std::string history = HistoryFile("kept.test");
    folder_.write("lsjl.ini", history);
    Outcome r = Report("--report 203.0.113.2 -m 1");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(folder_.read("lsjl.ini"), history);
    r = Report("--report 203.0.113.2 -m 1 --record");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(folder_.read("lsjl.ini").find("url=kept.test|203.0.113.2"), std::string::npos)
        << folder_.read("lsjl.ini");
}

TEST_F(ReportNetwork, ANameThatDoesNotResolveEndsWithOneAndSaysSo) {
    Outcome r = Report("--report nosuch.test --json");
    EXPECT_EQ(r.code, 1) << r.err;
    QJsonObject doc = Document(r.out);
    EXPECT_TRUE(doc["address"].isNull());
    EXPECT_TRUE(doc["hops"].toArray().isEmpty());
    EXPECT_NE(r.err.find("routetrace: nosuch.test: the name did not resolve"), std::string::npos) << r.err;
}

TEST_F(ReportNetwork, WithoutICMPItEndsWithTwoAndSaysHowToAllowIt) {
    // An ordinary user where unprivileged ICMP sockets are closed, and the program has no right.
    std::string client = "ip netns exec " + prefix_ + "-client ";
    Shell(client + "sysctl -qw net.ipv4.ping_group_range='1 0'");
    ::chmod(folder_.path().c_str(), 0755);
    ::chmod(folder_.file("routetrace").c_str(), 0755);
    as_ = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    Outcome r = Report("--report 203.0.113.2");
    Shell(client + "sysctl -qw net.ipv4.ping_group_range='0 2147483647'");
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("net.ipv4.ping_group_range"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("setcap cap_net_raw+ep"), std::string::npos) << r.err;
}

TEST_F(ReportNetwork, AWrongOptionOfTheProgramEndsWithTwoBeforeAnythingIsSent) {
    Outcome r = Report("--report target.test --size 500");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("routetrace: --size takes a whole number from 32 to 128", 0), 0u) << r.err;
}

} // namespace
