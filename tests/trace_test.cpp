// Whole traces through the real handlers and window (offscreen) on the namespace network:
// client 192.0.2.1 -> r1 192.0.2.2 -> r2 198.51.100.2 -> r3 198.51.100.6 -> target 203.0.113.2.
#include <QCheckBox>
#include <QRegularExpression>
#include <arpa/inet.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>

#include <nlohmann/json.hpp>

#include "netns/namespace.h"
#include "qqwry_builder.h"
#include "shell.h"
#include "window_fixture.h"
#include "runtime/platform/linux/icmp_handles.h"

using namespace rt::testing;
using Q = QqwryBuilder;

namespace {

QString U(const char *utf8) { return QString::fromUtf8(utf8); }

// A response time cell as the window writes it ("<10 ms", "Nms" from 10 to 1200, "*" beyond): its
// value depends on the moment, its form does not.
bool IsTimeCell(const QString &cell) {
    static const QRegularExpression form("^(<10 ms|[1-9][0-9]{1,3}ms|\\*)$");
    return form.match(cell).hasMatch();
}

// Records the data size of every echo request that reaches a namespace.
class Capture {
  public:
    explicit Capture(const std::string &ns) {
        thread_ = std::thread([this, ns] {
            if (!JoinNetwork(ns)) {
                ready_ = true;
                return;
            }
            int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
            timeval tv{0, 50000};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            ready_ = true;
            uint8_t buf[70000];
            // Once stopped, what the socket still holds is read before the thread ends.
            for (;;) {
                ssize_t n = ::recv(fd, buf, sizeof buf, stop_ ? MSG_DONTWAIT : 0);
                if (n < 0 && stop_) break;
                if (n < 28) continue;
                size_t ip = size_t(buf[0] & 15) * 4;
                if (size_t(n) >= ip + 8 && buf[ip] == 8) {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(
                        {size_t(n) - ip - 8, std::string(reinterpret_cast<char *>(buf + ip + 8), size_t(n) - ip - 8)});
                }
            }
            ::close(fd);
        });
        while (!ready_ && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~Capture() { Stop(); }
    // Every request that reached the namespace until now (the capture ends).
    std::vector<std::pair<size_t, std::string>> requests() {
        Stop();
        return requests_;
    }

  private:
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::thread thread_;
    std::atomic<bool> stop_{false}, ready_{false};
    std::mutex mutex_;
    std::vector<std::pair<size_t, std::string>> requests_;
};

class TraceNetwork : public WindowFixture {
  protected:
    static void SetUpTestSuite() {
        prefix_ = "rtt" + std::to_string(::getpid());
        skip_ = SuiteNetworkUp(prefix_);
        if (!skip_.empty()) return;
        up_ = true;
        hosts_ = "/tmp/" + prefix_ + ".hosts";
        resolver_ = "/tmp/" + prefix_ + ".resolv";
        std::ofstream(hosts_) << "127.0.0.1 localhost\n203.0.113.2 target.test\n";
        // Names not in the hosts file are asked of loopback only, where nothing answers.
        std::ofstream(resolver_) << "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n";
        if (!UseNameFiles(hosts_, resolver_) || !JoinNetwork(prefix_ + "-client"))
            skip_ = "cannot join the test network";
    }
    static void TearDownTestSuite() {
        if (up_) Topology("down " + prefix_);
        if (!hosts_.empty()) ::unlink(hosts_.c_str());
        if (!resolver_.empty()) ::unlink(resolver_.c_str());
    }

    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        WindowFixture::SetUp();
        rt::platform::SetIcmpTimeoutCap(1000); // a silent hop costs a second, not 2.4
        previousFolder_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_.path()); // ".\QQWry.dat" is looked up here
        Q b;
        b.Index(Q::Ip("192.0.2.0"),
                b.Simple(Q::Ip("192.0.2.255"), "\xB2\xE2\xCA\xD4\xCD\xF8\xD2\xBB", "r1")); // 测试网一
        b.Index(Q::Ip("198.51.100.0"), b.Simple(Q::Ip("198.51.100.255"), "TEST-NET-2", "routers"));
        b.Index(Q::Ip("203.0.113.0"), b.Simple(Q::Ip("203.0.113.255"), "TEST-NET-3", "\xC4\xBF\xB1\xEA")); // 目标
        folder_.write("QQWry.dat", b.Finish());
    }
    void TearDown() override {
        if (!skip_.empty()) return;
        std::filesystem::current_path(previousFolder_);
        rt::platform::SetIcmpTimeoutCap(0);
        WindowFixture::TearDown();
    }

    QPushButton *StartButton() { return Control<QPushButton>(unit_id::Id_StartButton); }
    QLineEdit *Box(uint32_t id) { return Control<QLineEdit>(id); }

    // Types the target, clicks the start button and waits for the trace to enable it again.
    void Trace(const QString &target, int seconds = 30) {
        TargetBox()->setEditText(target);
        StartButton()->click();
        ASSERT_FALSE(StartButton()->isEnabled()) << "disabled while the trace runs";
        ASSERT_TRUE(PumpUntil([&] { return StartButton()->isEnabled(); }, seconds * 1000)) << "the trace did not end";
    }

    std::vector<QStringList> Rows() {
        QTreeWidget *list = Control<QTreeWidget>(unit_id::Id_ResultList);
        std::vector<QStringList> rows;
        for (int r = 0; r < list->topLevelItemCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < 4; ++c) cells << list->topLevelItem(r)->text(c);
            rows.push_back(cells);
        }
        return rows;
    }
    std::vector<std::string> MessageTexts() {
        std::vector<std::string> texts;
        for (auto &[text, title] : messages_) texts.push_back(text);
        return texts;
    }

    static inline std::string prefix_, hosts_, resolver_, skip_;
    static inline bool up_ = false;
    std::filesystem::path previousFolder_;
};

const QStringList kEmptyRow = {"", "", "", ""};

} // namespace

TEST_F(TraceNetwork, ATraceToTheTargetsNameEndsAfterFourRows) {
    Trace("target.test");
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    const char *addresses[] = {"192.0.2.2", "198.51.100.2", "198.51.100.6", "203.0.113.2"};
    const char *places[] = {"测试网一 r1", "TEST-NET-2 routers", "TEST-NET-2 routers", "TEST-NET-3 目标"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rows[size_t(i)][0], QString::number(i + 1));
        EXPECT_EQ(rows[size_t(i)][1], U(addresses[i]));
        EXPECT_EQ(rows[size_t(i)][2], U(places[i]));
        EXPECT_TRUE(IsTimeCell(rows[size_t(i)][3])) << rows[size_t(i)][3].toStdString();
    }
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"路由追踪结束"});
    EXPECT_EQ(messages_[0].second, "Toviq-路由追踪 https://toviq.example/") << "no title of its own";
    EXPECT_EQ(Box(unit_id::Id_AddressBox)->text(), "203.0.113.2") << "the address box shows the resolved address";
    EXPECT_EQ(Box(unit_id::Id_PacketCountBox)->text(), "1");
    EXPECT_EQ(Box(unit_id::Id_PacketSizeBox)->text(), "32");
}

TEST_F(TraceNetwork, ARouterThatDropsItsTimeExceededLeavesAnEmptyRow) {
    Topology("drop-time-exceeded " + prefix_ + " r2");
    Trace("203.0.113.2");
    Topology("restore-time-exceeded " + prefix_ + " r2");
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0][1], "192.0.2.2");
    EXPECT_EQ(rows[1], kEmptyRow) << "not even the hop number";
    EXPECT_EQ(rows[2][0], "3");
    EXPECT_EQ(rows[2][1], "198.51.100.6");
    EXPECT_EQ(rows[3][1], "203.0.113.2");
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"路由追踪结束"});
}

TEST_F(TraceNetwork, AnUnresolvableNameIsToldAndEndsAfterOneEmptyRow) {
    Trace("no-such-host.invalid");
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Kein Host gefunden.", "路由追踪结束"}));
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0], kEmptyRow);
    EXPECT_EQ(Box(unit_id::Id_AddressBox)->text(), "");
    Trace("http://target.test/");
    EXPECT_EQ(MessageTexts().size(), 4u) << "a web address with a scheme is passed unchanged and not found";
}

TEST_F(TraceNetwork, ATargetThatNeverAnswersRunsAll255Hops) {
    rt::platform::SetIcmpTimeoutCap(15);
    Topology("silence " + prefix_ + " target");
    Trace("203.0.113.2", 60);
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 255u);
    // The routers answer (unless a busy machine keeps an answer past the short wait of this test).
    const char *routers[] = {"192.0.2.2", "198.51.100.2", "198.51.100.6"};
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(rows[i] == kEmptyRow || rows[i][1] == routers[i]) << rows[i][1].toStdString();
    for (size_t i = 3; i < rows.size(); ++i) ASSERT_EQ(rows[i], kEmptyRow) << "hop " << i + 1;
    EXPECT_TRUE(messages_.empty()) << "the hop limit ends without a message";
    EXPECT_TRUE(StartButton()->isEnabled());
}

TEST_F(TraceNetwork, CharactersPerPacketAreCorrectedAndCarriedOnTheWire) {
    Capture capture(prefix_ + "-target");
    struct Case {
        const char *typed, *shown;
        size_t size;
    } cases[] = {{"", "32", 32},      {"0", "32", 32},    {"20", "32", 32},     {"-5", "32", 32},
                 {"200", "128", 128}, {"64", "64", 64},   {"40.7", "40.7", 40}, {"31.99999995", "31.99999995", 31},
                 {"32", "32", 32},    {"128", "128", 128}};
    QLineEdit *count = Box(unit_id::Id_PacketCountBox);
    QCheckBox *check = Control<QCheckBox>(unit_id::Id_CheckBox);
    for (const Case &c : cases) {
        Box(unit_id::Id_PacketSizeBox)->setText(c.typed);
        count->setText("7");
        check->setChecked(!check->isChecked()); // the check box changes nothing
        Trace("203.0.113.2");
        EXPECT_EQ(Box(unit_id::Id_PacketSizeBox)->text(), U(c.shown)) << c.typed;
        EXPECT_EQ(count->text(), "1");
        EXPECT_EQ(Rows().size(), 4u) << c.typed;
    }
    auto requests = capture.requests();
    ASSERT_EQ(requests.size(), std::size(cases)) << "one request reaches the target per trace";
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].first, cases[i].size) << cases[i].typed;
        EXPECT_EQ(requests[i].second, std::string(cases[i].size, 'a'));
    }
}

TEST_F(TraceNetwork, WithoutTheDatabaseThePlaceStaysEmptyAndEachAnswerSaysSo) {
    std::filesystem::remove(folder_.path() / "QQWry.dat");
    Trace("203.0.113.2");
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    for (const QStringList &row : rows) {
        EXPECT_FALSE(row[1].isEmpty());
        EXPECT_EQ(row[2], "");
    }
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"没找到数据库", "没找到数据库", "没找到数据库", "没找到数据库",
                                                        "路由追踪结束"}));
}

TEST_F(TraceNetwork, ClearingTheHistoryDuringATraceLeavesTheTraceAlone) {
    Topology("drop-time-exceeded " + prefix_ + " r2"); // a slow hop keeps the trace running
    TargetBox()->setEditText("203.0.113.2");
    StartButton()->click();
    ASSERT_TRUE(PumpUntil([&] { return Rows().size() == 2; }));
    Control<QPushButton>(unit_id::Id_ClearButton)->click(); // while hop 2 waits
    EXPECT_EQ(TargetItems(), QStringList{"toviq.example"});
    ASSERT_TRUE(PumpUntil([&] { return StartButton()->isEnabled(); }, 10000));
    Topology("restore-time-exceeded " + prefix_ + " r2");
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3][1], "203.0.113.2");
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"路由追踪结束"});
}

TEST_F(TraceNetwork, TheReportPrintsTheWindowsRows) {
    Trace("target.test");
    // Two traces agree in every cell but the time, which only keeps its form.
    auto withoutTimes = [](const QString &text) {
        QStringList lines;
        for (const QString &line : text.split('\n')) {
            QStringList cells = line.split('\t');
            if (cells.size() == 4) {
                EXPECT_TRUE(IsTimeCell(cells[3])) << line.toStdString();
                cells[3] = "(time)";
            }
            lines << cells.join('\t');
        }
        return lines.join('\n').toStdString();
    };
    QString rows;
    for (const QStringList &row : Rows()) rows += row.join('\t') + "\n";
    // The program itself, in the same network and folder, without a window.
    std::string command = std::string("env -u DISPLAY -u QT_QPA_PLATFORM ") + PRODUCT + " --report target.test";
    EXPECT_EQ(withoutTimes(QString::fromStdString(Shell(command))), withoutTimes(rows));
    // On one stream the closing message follows the last hop, as in the window.
    EXPECT_EQ(withoutTimes(QString::fromStdString(Shell("(" + command + " 2>&1)"))),
              withoutTimes(rows + "路由追踪结束\n"));
}

// A hostile place database in the folder the program starts from: its texts hold line breaks, tabs
// and an escape sequence. Each hop stays one row of four fields, written to a pipe; the JSON of a
// target that is not text is UTF-8 all the same.
TEST_F(TraceNetwork, TheReportEscapesControlCharactersAndItsJsonIsUtf8) {
    Q b;
    const std::string forged = "x\n9\t6.6.6.6\tforged\t1 ms";
    b.Index(Q::Ip("198.51.100.0"), b.Simple(Q::Ip("198.51.100.255"), forged, "\x1B[31mred\r\b"));
    folder_.write("QQWry.dat", b.Finish());
    std::string command = std::string("env -u DISPLAY -u QT_QPA_PLATFORM ") + PRODUCT + " --report target.test";
    std::string out = Shell(command + " 2>/dev/null");
    std::vector<std::string> rows;
    for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
        rows.push_back(out.substr(at, end - at));
    ASSERT_EQ(rows.size(), 4u) << out;
    for (const std::string &row : rows) EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 3) << row;
    EXPECT_NE(rows[1].find("\tx\\n9\\t6.6.6.6\\tforged\\t1 ms \\x1B[31mred\\r\\x08\t"), std::string::npos) << rows[1];

    std::string json = Shell("env -u DISPLAY -u QT_QPA_PLATFORM " + std::string(PRODUCT) +
                             " --report \"$(printf 'a\\377\\376')\" --json 2>/dev/null");
    auto document = nlohmann::json::parse(json, nullptr, false);
    ASSERT_TRUE(document.is_object()) << json;
    EXPECT_EQ(document.value("target", ""), "a\xEF\xBF\xBD\xEF\xBF\xBD") << json;
    for (size_t at = 0; at < json.size();) {
        size_t n = rt::Utf8CharLength(std::string_view(json).substr(at));
        ASSERT_GT(n, 0u) << "not UTF-8 at byte " << at;
        at += n;
    }
}
