// Reports over rounds on the namespace network: one round prints what a report always printed; more
// rounds show loss where a router rate-limits its answers, matching the packets on the wire; every
// responder of a load-balanced hop is listed with its own AS; the JSON and CSV forms are typed.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>

#include <QJsonArray>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "formats/asn/asn_table.h"
#include "formats/text/text.h"
#include "runtime/frontends/report/report_rounds.h"
#include "report_network.h"
#include "shell.h"

using namespace rt::testing;

namespace {

// The ICMP packets the client sends and gets, seen by a packet socket in its namespace (one of
// every protocol: only those see what goes out), with room for every packet of a test.
class Wire {
  public:
    explicit Wire(const std::string &ns) {
        std::thread([&] {
            if (JoinNetwork(ns)) fd_ = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL));
        }).join();
        int room = 64 << 20;
        if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    }
    ~Wire() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Open() const { return fd_ >= 0; }

    struct Counts {
        std::map<int, int> requestsByTtl;            // echo requests sent, by time-to-live
        std::map<std::string, int> timeExceededFrom; // Time Exceeded received, by source
        unsigned dropped = 0;                        // packets the socket had no room for
    };
    // Everything captured so far (the report has ended: its packets are all queued).
    Counts Take() {
        Counts c;
        unsigned char packet[2048];
        sockaddr_ll from{};
        socklen_t size = sizeof from;
        for (ssize_t n;
             (n = ::recvfrom(fd_, packet, sizeof packet, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &size)) > 0;
             size = sizeof from) {
            const auto *ip = reinterpret_cast<const iphdr *>(packet);
            if (n < 28 || from.sll_protocol != htons(ETH_P_IP) || ip->protocol != IPPROTO_ICMP ||
                size_t(n) < ip->ihl * 4u + 8)
                continue;
            const auto *icmp = reinterpret_cast<const icmphdr *>(packet + ip->ihl * 4);
            if (from.sll_pkttype == PACKET_OUTGOING && icmp->type == ICMP_ECHO) ++c.requestsByTtl[ip->ttl];
            if (from.sll_pkttype != PACKET_OUTGOING && icmp->type == ICMP_TIME_EXCEEDED) {
                in_addr source{ip->saddr};
                ++c.timeExceededFrom[::inet_ntoa(source)];
            }
        }
        tpacket_stats stats{};
        socklen_t statsSize = sizeof stats;
        ::getsockopt(fd_, SOL_PACKET, PACKET_STATISTICS, &stats, &statsSize);
        c.dropped = stats.tp_drops;
        return c;
    }

  private:
    int fd_ = -1;
};

std::vector<std::string> TextLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

QJsonObject HopOf(const QJsonObject &doc, int hop) { return doc["hops"].toArray()[hop - 1].toObject(); }

// CSV lines split at commas (the test network's fields hold none).
std::vector<std::vector<std::string>> CsvRows(const std::string &out) { return Fields(out, ','); }

} // namespace

TEST(RoundsText, TheTableCountsCjkAsTwoCellsAndTheCsvQuotesWhatItMust) {
    const struct {
        const char *text;
        size_t cells;
    } widths[] = {{"abc", 3}, {"\xE5\x8C\x97\xE4\xBA\xAC", 4}, {"\xEF\xBD\x88", 2}, {"\xFF", 1}, {"", 0}};
    for (const auto &w : widths) EXPECT_EQ(rt::DisplayCells(w.text), w.cells) << w.text;

    rt::PathStats stats;
    stats.hops.resize(3);
    stats.hops[0] = {1, 4, 4, 1, 2.5, 1, 4, 1.3, 1, {}};
    stats.hops[0].responders = {{0x0100000A, 4, rt::Utf8ToGbk("\xE5\x8C\x97\xE4\xBA\xAC, \"ICP\"")}};
    stats.hops[1] = {2, 4, 0, 0, 0, 0, 0, 0, 0, {}};
    stats.hops[2] = {3, 4, 4, 2, 2, 2, 2, 0, 0, {}};
    stats.hops[2].responders = {{0x0300000A, 3, "x"}, {0x0400000A, 1, ""}};
    auto lines = TextLines(rt::RoundsTable(stats, nullptr));
    ASSERT_EQ(lines.size(), 5u);
    for (size_t i : {1u, 2u, 3u}) EXPECT_EQ(rt::DisplayCells(lines[i]), rt::DisplayCells(lines[0])) << lines[i];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("2 +\\* +100\\.0% +4( +-){6}"))) << lines[2];
    EXPECT_TRUE(std::regex_match(lines[4], std::regex(" +10\\.0\\.0\\.4 \\(1\\)"))) << lines[4];
    EXPECT_EQ(lines[3].find("10.0.0.3 (3)"), lines[4].find("10.0.0.4 (1)"));

    auto csv = TextLines(rt::RoundsCsv(stats, nullptr));
    ASSERT_EQ(csv.size(), 5u);
    EXPECT_EQ(csv[1], "1,10.0.0.1,\"\xE5\x8C\x97\xE4\xBA\xAC, \"\"ICP\"\"\",0.0,4,4,1.00,2.50,1.00,4.00,1.30,1.00,4");
    EXPECT_EQ(csv[2], "2,,,100.0,4,0,,,,,,,0");
    EXPECT_EQ(csv[3].substr(0, 11), "3,10.0.0.3,");
    EXPECT_EQ(csv[4].substr(0, 11), "3,10.0.0.4,");
}

TEST_F(ReportNetwork, OneRoundPrintsExactlyWhatAReportPrintedBefore) {
    for (const char *form : {"", " --json", " --asn"}) {
        Outcome before = Report(std::string("--report target.test") + form);
        Outcome once = Report(std::string("--report target.test -c 1 -i 5") + form);
        EXPECT_EQ(once.code, before.code) << form;
        // The outputs differ in their start time and round trips alone, which the network decides.
        auto fixed = [](std::string out) {
            for (const char *varies :
                 {"\"started\":\"[^\"]*\"", "\"rtt_ms\":[0-9]+", "\"time\":\"[^\"]*\"", "\t(<10 ms|[0-9]+ms)"})
                out = std::regex_replace(out, std::regex(varies), "");
            return out;
        };
        EXPECT_EQ(fixed(once.out), fixed(before.out)) << form;
        EXPECT_EQ(once.err, before.err) << form;
    }
}

TEST_F(ReportNetwork, RoundsShowLossAtTheRateLimitedHopOnlyAsCountedOnTheWire) {
    Change("rate-limit", "r2", "no-rate-limit");
    Wire wire(prefix_ + "-client");
    ASSERT_TRUE(wire.Open()) << "a packet socket in the client's namespace";
    Outcome r = Report("--report 203.0.113.2 -c 20 -i 0.1 -w 0.3 --json");
    Wire::Counts seen = wire.Take();
    ASSERT_EQ(seen.dropped, 0u) << "every packet on the wire was counted";
    EXPECT_EQ(r.code, 0) << r.err;
    QJsonObject doc = Document(r.out);
    EXPECT_EQ(doc["version"].toInt(), 1);
    EXPECT_EQ(doc["rounds"].toInt(), 20);
    EXPECT_EQ(doc["cycles"].toInt(), 20);
    EXPECT_DOUBLE_EQ(doc["interval"].toDouble(), 0.1);
    EXPECT_EQ(doc["rtt_precision_ms"].toInt(), 1);
    EXPECT_TRUE(doc["reached"].toBool());
    EXPECT_FALSE(doc["interrupted"].toBool());
    ASSERT_EQ(doc["hops"].toArray().size(), 4) << r.out;
    const char *routers[] = {"192.0.2.2", "198.51.100.2", "198.51.100.6"};
    for (int n = 1; n <= 4; ++n) {
        QJsonObject hop = HopOf(doc, n);
        SCOPED_TRACE(n);
        EXPECT_EQ(hop["sent"].toInt(), 20);
        EXPECT_EQ(seen.requestsByTtl[n], hop["sent"].toInt()) << "each hop probed once a round";
        if (n < 4) {
            EXPECT_EQ(seen.timeExceededFrom[routers[n - 1]], hop["received"].toInt());
        }
        if (n == 2) {
            EXPECT_LT(hop["received"].toInt(), 20) << r.out;
            EXPECT_GT(hop["loss_pct"].toDouble(), 0);
        } else {
            EXPECT_EQ(hop["received"].toInt(), 20);
            EXPECT_EQ(hop["loss_pct"].toDouble(-1), 0);
        }
        for (const char *key : {"last_ms", "avg_ms", "best_ms", "worst_ms", "stdev_ms", "jitter_ms"})
            EXPECT_TRUE(hop["received"].toInt() ? hop[key].isDouble() : hop[key].isNull()) << key;
        QJsonArray responders = hop["responders"].toArray();
        ASSERT_EQ(responders.size(), hop["received"].toInt() ? 1 : 0);
        if (responders.isEmpty()) continue;
        EXPECT_EQ(responders[0].toObject()["answers"].toInt(), hop["received"].toInt());
        EXPECT_EQ(Text(responders[0].toObject()["place"]), "TEST-NET report");
    }
}

TEST_F(ReportNetwork, TheTableAndTheCsvOfRoundsHoldEveryHop) {
    Outcome table = Report("--report target.test -c 2 -i 0.1");
    EXPECT_EQ(table.code, 0) << table.err;
    auto lines = Lines(table.out);
    ASSERT_EQ(lines.size(), 5u) << table.out;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("Hop +Address +Place +Loss% +Snt +Last +Avg +Best +Wrst "
                                                      "+StDev +Jttr")))
        << lines[0];
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(std::to_string(i) + " +[0-9.]+ +TEST-NET report +0\\.0% +2"
                                                                              "( +[0-9]+\\.[0-9]){6}")))
            << lines[i];
        EXPECT_EQ(lines[i].size(), lines[0].size()) << "aligned";
    }

    Outcome csv = Report("--report target.test -c 2 -i 0.1 --csv --asn");
    EXPECT_EQ(csv.code, 0) << csv.err;
    auto rows = CsvRows(csv.out);
    ASSERT_EQ(rows.size(), 5u) << csv.out;
    const std::vector<std::string> header = {"hop",      "address",   "place",   "loss_pct", "sent",
                                             "received", "last_ms",   "avg_ms",  "best_ms",  "worst_ms",
                                             "stdev_ms", "jitter_ms", "answers", "asn",      "as_name"};
    EXPECT_EQ(rows[0], header);
    for (size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), header.size()) << csv.out;
        EXPECT_EQ(rows[i][0], std::to_string(i));
        EXPECT_EQ(rows[i][2], "TEST-NET report");
        for (size_t f = 3; f <= 12; ++f) EXPECT_TRUE(std::regex_match(rows[i][f], std::regex("[0-9]+(\\.[0-9]+)?")));
        EXPECT_EQ(rows[i][4], "2");
        EXPECT_EQ(rows[i][13] + rows[i][14], "") << "no AS for a documentation address";
    }
}

TEST_F(ReportNetwork, EachResponderOfALoadBalancedHopIsListedWithItsOwnAs) {
    auto table = asn::Write({{QqwryBuilder::Ip("198.51.100.0"), QqwryBuilder::Ip("198.51.100.3"), 64497, "ONE"},
                             {QqwryBuilder::Ip("198.51.100.8"), QqwryBuilder::Ip("198.51.100.11"), 64499, "OTHER"}},
                            20260617);
    ASSERT_TRUE(table);
    folder_.write("asn.dat", std::string(table->begin(), table->end()));
    undo_.push_back("one-path " + prefix_ + " r1");
    std::string why = Topology("two-paths " + prefix_ + " r1");
    if (!why.empty()) GTEST_SKIP() << "no nftables numgen marks here (nft and the kernel's nf_tables): " << why;
    Outcome r = Report("--report 203.0.113.2 -c 6 -i 0.1 --json --asn");
    EXPECT_EQ(r.code, 0) << r.err;
    QJsonObject hop = HopOf(Document(r.out), 2);
    EXPECT_EQ(hop["received"].toInt(), 6);
    QJsonArray responders = hop["responders"].toArray();
    ASSERT_EQ(responders.size(), 2) << r.out;
    std::map<std::string, std::pair<int, int>> seen; // address: answers, AS
    for (const QJsonValue &v : responders)
        seen[Text(v.toObject()["address"])] = {v.toObject()["answers"].toInt(), v.toObject()["asn"].toInt()};
    EXPECT_EQ(seen["198.51.100.2"], std::make_pair(3, 64497));
    EXPECT_EQ(seen["198.51.100.10"], std::make_pair(3, 64499));
    EXPECT_TRUE(HopOf(Document(r.out), 1)["responders"][0].toObject()["asn"].isNull());

    Outcome text = Report("--report 203.0.113.2 -c 6 -i 0.1 --asn");
    auto lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 6u) << text.out;
    EXPECT_TRUE(std::regex_search(lines[2], std::regex("^2 +198\\.51\\.100\\.(2|10) \\(3\\) +TEST-NET report +AS6449")))
        << lines[2];
    EXPECT_TRUE(std::regex_search(lines[3], std::regex("^ +198\\.51\\.100\\.(2|10) \\(3\\) +TEST-NET report +AS6449")))
        << lines[3];
}

TEST_F(ReportNetwork, AnInterruptedRunOfRoundsPrintsTheRoundsSoFarAsAWholeDocument) {
    // Hop 2 never answers and each round waits for it: the signal comes once round 2 has begun,
    // seen on the wire as the second probe for hop 1.
    Change("drop-time-exceeded", "r2", "restore-time-exceeded");
    Wire wire(prefix_ + "-client");
    ASSERT_TRUE(wire.Open());
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        for (int hopOne = 0; !done && hopOne < 2;) {
            hopOne += wire.Take().requestsByTtl[1];
            if (hopOne < 2) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!done) Shell("ip netns pids " + prefix_ + "-client | xargs -r kill -INT");
    });
    Outcome r = Report("--report 203.0.113.2 -c 5 -i 0.1 -w 3 --json");
    done = true;
    watcher.join();
    EXPECT_EQ(r.code, 130) << r.err;
    QJsonObject doc = Document(r.out);
    EXPECT_TRUE(doc["interrupted"].toBool());
    EXPECT_TRUE(doc["reached"].toBool()) << "the first round reached the target";
    const int rounds = doc["rounds"].toInt();
    EXPECT_GE(rounds, 2) << "the round under way counts as far as it came";
    ASSERT_EQ(doc["hops"].toArray().size(), 4) << r.out;
    EXPECT_EQ(HopOf(doc, 2)["received"].toInt(), 0);
    EXPECT_EQ(HopOf(doc, 4)["sent"].toInt(), rounds - 1) << "the round under way had not come so far";
}
