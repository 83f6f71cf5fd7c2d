// Echo requests on a real network: five namespaces joined by veth pairs (tests/netns/topology.sh),
// a client, three forwarding routers and a target, on the documentation ranges only.
#include <arpa/inet.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/packet/echo_service.h"
#include "formats/packet/icmp_packet.h"

namespace {

std::string Shell(const std::string &command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
    if (!pipe) return out;
    std::array<char, 512> buf;
    while (std::fgets(buf.data(), buf.size(), pipe.get())) out += buf.data();
    return out;
}

// "key=value key=value" into a map.
std::map<std::string, std::string> Fields(const std::string &line) {
    std::map<std::string, std::string> f;
    std::istringstream in(line);
    std::string word;
    while (in >> word) {
        size_t eq = word.find('=');
        if (eq != std::string::npos) f[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return f;
}

class NamespaceNetwork : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "building network namespaces needs root";
        prefix_ = "rt" + std::to_string(::getpid());
        std::string out = Shell(std::string(TOPOLOGY_SCRIPT) + " up " + prefix_);
        ASSERT_TRUE(out.empty()) << out;
        up_ = true;
    }
    void TearDown() override {
        if (up_) Shell(std::string(TOPOLOGY_SCRIPT) + " down " + prefix_);
    }

    std::map<std::string, std::string> Echo(const std::string &destination, int ttl, int timeoutMs,
                                            const std::string &kind = "helper", int size = 32,
                                            const std::string &extra = "") {
        std::string command = "ip netns exec " + prefix_ + "-client " + DLLPROBE + " echo " + destination + " " +
                              std::to_string(ttl) + " " + std::to_string(timeoutMs) + " " + std::to_string(size) + " " +
                              kind + " " + extra;
        std::string out = Shell(command);
        auto f = Fields(out);
        f["output"] = out;
        return f;
    }

    // dllprobe's trace: one map per hop it printed.
    std::vector<std::map<std::string, std::string>> Trace(const std::string &destination, int last,
                                                          const std::string &kind) {
        std::string out = Shell("ip netns exec " + prefix_ + "-client " + DLLPROBE + " trace " + destination + " " +
                                std::to_string(last) + " 500 " + kind);
        std::vector<std::map<std::string, std::string>> hops;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) hops.push_back(Fields(line));
        if (hops.empty()) hops.push_back({});
        hops.back()["output"] = out;
        return hops;
    }

    // The helper, started in the client's namespace on a socket pair of the test's own (its end on
    // standard input, as the program starts it), once it said it is ready.
    struct Helper {
        int fd = -1;
        pid_t pid = -1;
    };
    Helper StartHelper() {
        Helper h;
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return h;
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
        std::string ns = prefix_ + "-client";
        const char *argv[] = {"ip", "netns", "exec", ns.c_str(), HELPER, nullptr};
        char *envp[] = {nullptr};
        int spawned = ::posix_spawn(&h.pid, "/usr/sbin/ip", &actions, nullptr, const_cast<char **>(argv), envp);
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(pair[1]);
        h.fd = pair[0];
        if (spawned != 0) h.pid = -1;
        auto ready = h.pid > 0 ? Next(h) : std::nullopt;
        if (!ready || ready->status != rt::icmp::kEchoServiceReady) ADD_FAILURE() << "the helper did not start";
        return h;
    }
    // The helper's next response, waiting at most that long.
    static std::optional<rt::icmp::EchoServiceResponse> Next(const Helper &h, int waitMs = 10000) {
        pollfd p{h.fd, POLLIN, 0};
        uint8_t record[64];
        if (::poll(&p, 1, waitMs) != 1) return std::nullopt;
        ssize_t n = ::recv(h.fd, record, sizeof record, 0);
        return n > 0 ? rt::icmp::DecodeEchoResponse({record, size_t(n)}) : std::nullopt;
    }
    static void Request(const Helper &h, const rt::icmp::EchoServiceRequest &r,
                        size_t size = rt::icmp::kEchoRequestRecordSize) {
        uint8_t bytes[rt::icmp::kEchoRequestRecordSize + 1] = {};
        uint8_t record[rt::icmp::kEchoRequestRecordSize];
        rt::icmp::EncodeEchoRequest(r, record);
        std::memcpy(bytes, record, sizeof record);
        ASSERT_EQ(::send(h.fd, bytes, size, 0), ssize_t(size));
    }
    // Closes the helper's pipe: the exit status it ends with.
    static int Stop(Helper &h) {
        ::close(h.fd);
        int status = -1;
        if (h.pid > 0 && ::waitpid(h.pid, &status, 0) != h.pid) status = -1;
        return status;
    }

    // A tool started in one of the namespaces, its output read as it comes (standard error too).
    std::unique_ptr<FILE, int (*)(FILE *)> StartTool(const std::string &node, const std::string &command) {
        return {::popen(("ip netns exec " + prefix_ + "-" + node + " " + command + " 2>&1").c_str(), "r"), ::pclose};
    }
    static std::string ReadLine(FILE *f) {
        std::array<char, 512> buf;
        return f && std::fgets(buf.data(), buf.size(), f) ? buf.data() : "";
    }
    static std::string ReadAll(FILE *f) {
        std::string out;
        for (std::string line; !(line = ReadLine(f)).empty();) out += line;
        return out;
    }

    std::string prefix_;
    bool up_ = false;
};

TEST_F(NamespaceNetwork, EachTtlIsAnsweredByTheNextRouterAndFinallyTheTarget) {
    for (const char *kind : {"helper", "datagram"}) {
        SCOPED_TRACE(kind);
        const char *expected[] = {"192.0.2.2", "198.51.100.2", "198.51.100.6", "203.0.113.2"};
        for (int ttl = 1; ttl <= 4; ++ttl) {
            auto r = Echo("203.0.113.2", ttl, 2400, kind);
            EXPECT_EQ(r["result"], "1") << r["output"];
            EXPECT_EQ(r["address"], expected[ttl - 1]) << "ttl " << ttl;
            EXPECT_EQ(r["kind"], kind);
            EXPECT_EQ(r["status"], ttl < 4 ? "11013" : "0"); // time exceeded on the way, then the echo reply
        }
    }
}

TEST_F(NamespaceNetwork, ARouterThatDropsItsTimeExceededGivesNothingAfterTheTimeout) {
    Shell(std::string(TOPOLOGY_SCRIPT) + " drop-time-exceeded " + prefix_ + " r2");
    for (const char *kind : {"helper", "datagram"}) {
        auto start = std::chrono::steady_clock::now();
        auto r = Echo("203.0.113.2", 2, 500, kind);
        auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(r["result"], "0") << kind << ": " << r["output"];
        EXPECT_EQ(r["status"], "11010");
        EXPECT_GE(waited, std::chrono::milliseconds(500));
        EXPECT_EQ(Echo("203.0.113.2", 3, 2400, kind)["address"], "198.51.100.6") << "the hop behind it still answers";
    }
}

TEST_F(NamespaceNetwork, AnswersToAnotherIdentifierAreIgnored) {
    // r2 stays silent for our probe while a second handle's echo replies from the same destination
    // stream in; the helper's raw socket sees them all and must not take any of them.
    Shell(std::string(TOPOLOGY_SCRIPT) + " drop-time-exceeded " + prefix_ + " r2");
    for (const char *kind : {"helper", "datagram"}) {
        auto r = Echo("203.0.113.2", 2, 800, kind, 32, "noise");
        EXPECT_EQ(r["result"], "0") << kind << ": " << r["output"];
        EXPECT_GT(std::stoi(r["noise"]), 0) << "the other handle's pings were answered meanwhile";
    }
}

TEST_F(NamespaceNetwork, RequestDataSizeIsCarriedAndEchoed) {
    for (int size : {32, 128}) {
        auto r = Echo("203.0.113.2", 64, 2400, "helper", size);
        EXPECT_EQ(r["result"], "1") << r["output"];
    }
}

TEST_F(NamespaceNetwork, AnErrorLeftQueuedOnTheDatagramSocketDoesNotSilenceTheNextHop) {
    // A late (or forged) Time Exceeded waits unread on the socket when the next request is sent.
    auto r = Echo("203.0.113.2", 4, 2400, "datagram", 32, "stale-error");
    EXPECT_EQ(r["result"], "1") << r["output"];
    EXPECT_EQ(r["address"], "203.0.113.2");
}

TEST_F(NamespaceNetwork, BlindlyForgedEchoRepliesFromTheTargetAreNotTaken) {
    // r2 stays silent; meanwhile the target floods the client with echo replies carrying every
    // identifier and the first sequence number a trace would use if it counted from the hop number.
    Shell(std::string(TOPOLOGY_SCRIPT) + " drop-time-exceeded " + prefix_ + " r2");
    for (const char *kind : {"helper", "datagram"}) {
        SCOPED_TRACE(kind);
        Shell("ip netns exec " + prefix_ + "-target " + ECHO_FORGER + " 192.0.2.1 1 32 3 >/dev/null 2>&1 &");
        auto r = Echo("203.0.113.2", 2, 2400, kind);
        EXPECT_EQ(r["result"], "0") << r["output"];
        EXPECT_EQ(r["status"], "11010") << "the hop stays silent";
        Shell("ip netns exec " + prefix_ + "-target sh -c 'while pgrep -x echo_forger >/dev/null; do sleep 0.1; done'");
    }
}

TEST_F(NamespaceNetwork, UnderAReportsBoundsEveryHopIsProbedOnceAndTheSilentOnesWaitTogether) {
    // The trace asks for one hop after another. A silent target: by the time the first hop's answer is
    // given, every hop up to the last has its probe in flight, so the silent ones wait out one wait
    // together; none is probed twice. A target that answers: sending ahead stops there, short of the
    // hop limit (at most the window past the hop that reached it).
    Shell(std::string(TOPOLOGY_SCRIPT) + " silence " + prefix_ + " target");
    for (const char *kind : {"helper", "datagram"}) {
        SCOPED_TRACE(kind);
        auto hops = Trace("203.0.113.2", 10, kind);
        ASSERT_EQ(hops.size(), 10u) << hops.back()["output"];
        EXPECT_EQ(hops[0]["sent"], "10");
        EXPECT_EQ(hops[9]["sent"], "10");
        EXPECT_EQ(hops[2]["address"], "198.51.100.6");
        for (size_t i = 3; i < 10; ++i) EXPECT_EQ(hops[i]["result"], "0") << "hop " << i + 1;
    }
    Shell("ip netns exec " + prefix_ + "-target sysctl -qw net.ipv4.icmp_echo_ignore_all=0");
    for (const char *kind : {"helper", "datagram"}) {
        SCOPED_TRACE(kind);
        auto hops = Trace("203.0.113.2", 30, kind);
        ASSERT_EQ(hops.size(), 4u) << hops.back()["output"];
        EXPECT_EQ(hops[3]["address"], "203.0.113.2");
        EXPECT_LE(std::stoi(hops[3]["sent"]), 4 + 15);
    }
}

TEST_F(NamespaceNetwork, ProbesATraceLeftBehindAtTheHelperDoNotCrowdOutTheNextOnes) {
    // A trace asks for hop 1 and starts over: 13 probes it sent ahead toward the silent target are
    // still at the helper. The new trace waits for room rather than have the helper refuse its probes.
    Shell(std::string(TOPOLOGY_SCRIPT) + " silence " + prefix_ + " target");
    auto hops = Trace("203.0.113.2", 20, "helper again 1");
    auto restart = std::find_if(hops.begin(), hops.end(), [](auto &hop) { return !hop.count("hop"); });
    ASSERT_NE(restart, hops.end()) << hops.back()["output"];
    std::vector<std::map<std::string, std::string>> again(restart + 1, hops.end());
    ASSERT_EQ(again.size(), 20u) << hops.back()["output"];
    EXPECT_EQ(again[2]["address"], "198.51.100.6");
    for (size_t i = 3; i < again.size(); ++i)
        EXPECT_EQ(again[i]["status"], "11010") << "hop " << i + 1 << " timed out at the target, not refused";
}

TEST_F(NamespaceNetwork, TheHelperAnswersOnlyWellFormedRequestsAndEndsWithItsPipe) {
    namespace w = rt::icmp;
    Helper helper = StartHelper();
    ASSERT_GT(helper.pid, 0);

    uint32_t target = htonl(0xCB007102), multicast = htonl(0xE0000001);
    auto send = [&](const w::EchoServiceRequest &r, size_t size) { Request(helper, r, size); };
    // None of these is answered: the first answers are the ones to the good requests behind them.
    send({target, 2400, 32, 1, 0}, w::kEchoRequestRecordSize - 1);
    send({target, 2400, 32, 1, 0}, w::kEchoRequestRecordSize + 1);
    send({multicast, 2400, 32, 1, 0}, w::kEchoRequestRecordSize);
    send({target, 2400, 32, 0, 0}, w::kEchoRequestRecordSize);
    send({target, 2400, 1000, 1, 0}, w::kEchoRequestRecordSize);
    // Two requests outstanding at once: each answer carries its own request's tag.
    send({target, 2400, 32, 2, 0, 22}, w::kEchoRequestRecordSize);
    send({target, 2400, 32, 1, 0, 11}, w::kEchoRequestRecordSize);
    std::map<uint16_t, std::string> from;
    for (int i = 0; i < 2; ++i) {
        auto answer = Next(helper);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 11013u);
        char text[INET_ADDRSTRLEN];
        from[answer->tag] = ::inet_ntop(AF_INET, &answer->from, text, sizeof text);
    }
    EXPECT_EQ(from, (std::map<uint16_t, std::string>{{11, "192.0.2.2"}, {22, "198.51.100.2"}}))
        << "each time-to-live's router";

    int status = Stop(helper);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "it ends, unharmed, when its pipe closes";
}

TEST_F(NamespaceNetwork, TheHelperRefusesAnotherTypeOfServiceAndSendsNothingForIt) {
    namespace w = rt::icmp;
    auto sniffer = StartTool("r1", std::string(ECHO_SNIFFER) + " 30 1"); // the first echo request at r1
    ASSERT_EQ(ReadLine(sniffer.get()), "listening\n");
    Helper helper = StartHelper();
    uint32_t target = htonl(0xCB007102);
    Request(helper, {target, 2400, 48, 1, 0xB8, 1}); // expedited forwarding
    Request(helper, {target, 2400, 64, 1, 0x03, 2}); // the ECN bits alone
    Request(helper, {target, 2400, 32, 1, 0, 3});
    auto answer = Next(helper);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->tag, 3) << "the first answer is the one to the request of type of service 0";
    EXPECT_EQ(ReadAll(sniffer.get()), "1 32\n") << "the first echo request on the wire is that one's";
    Stop(helper);
}

TEST_F(NamespaceNetwork, TheHelperAnswersTheSeventeenthOutstandingRequestAtOnceWithAFailure) {
    namespace w = rt::icmp;
    Shell(std::string(TOPOLOGY_SCRIPT) + " silence " + prefix_ + " target");
    Helper helper = StartHelper();
    uint32_t target = htonl(0xCB007102);
    for (uint16_t tag = 1; tag <= 17; ++tag) Request(helper, {target, w::kEchoServiceMaxTimeoutMs, 32, 64, 0, tag});
    // The sixteen before it wait out their whole timeout at the silent target: any answer before
    // theirs is the one to the seventeenth.
    auto answer = Next(helper, int(w::kEchoServiceMaxTimeoutMs) * 2);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->tag, 17);
    EXPECT_EQ(answer->status, uint32_t(w::kIpGeneralFailure));
    Stop(helper);
}

TEST_F(NamespaceNetwork, ANodeThatSawOneProbeCannotAnswerForItsNeighbours) {
    // Four probes go out at once; r3 stays silent and the silent target sees only the fourth. It
    // answers for the sequence numbers next to that probe's with a Time Exceeded of its own: with
    // numbers counted up from the first, that would be the third probe's, and hop 3 would show it.
    Shell(std::string(TOPOLOGY_SCRIPT) + " drop-time-exceeded " + prefix_ + " r3");
    Shell(std::string(TOPOLOGY_SCRIPT) + " silence " + prefix_ + " target");
    for (const char *kind : {"helper", "datagram"}) {
        SCOPED_TRACE(kind);
        auto forger = StartTool("target", std::string(ECHO_FORGER) + " neighbours 1 30");
        ASSERT_EQ(ReadLine(forger.get()), "listening\n");
        auto hops = Trace("203.0.113.2", 4, kind);
        std::string forged = ReadAll(forger.get());
        EXPECT_EQ(forged.rfind("seen ", 0), 0u) << "the target saw a probe and answered for its neighbours";
        EXPECT_EQ(hops.size(), 4u) << hops.back()["output"];
        for (auto &hop : hops)
            EXPECT_EQ(hop["result"], hop["hop"] < "3" ? "1" : "0") << "hop " << hop["hop"] << ": " << hop["address"];
    }
}

TEST_F(NamespaceNetwork, NamesResolveThroughTheNamespacesHostsFile) {
    std::string out = Shell("ip netns exec " + prefix_ + "-client " + DLLPROBE + " resolve target.test");
    EXPECT_EQ(out, "address=203.0.113.2\n");
    out = Shell("ip netns exec " + prefix_ + "-client " + DLLPROBE + " resolve unknown-name.invalid");
    EXPECT_EQ(out, "notfound\n");
    out = Shell("ip netns exec " + prefix_ + "-client " + DLLPROBE + " resolve http://target.test/");
    EXPECT_EQ(out, "notfound\n") << "nothing is stripped from the name";
}

} // namespace
