// The trace's records, filled from the calls the runtime serves: the program's own trace run through
// the direct host to loopback (on Linux, and on Windows under wine with the system's ICMP and
// resolver functions), and a name the resolver cannot find, which asks no name server.
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/trace/trace.h"
#include "contract/form_layout.h"
#include "host_fixture.h"
#include "recording_frontend.h"
#include "runtime/core/trace_records.h"
#include "temp_dir.h"

using namespace rt::testing;

namespace {

// What a listener is told, in order, as one line per notice.
class Log final : public rt::TraceListener {
  public:
    void TraceStarted(const rt::TraceRecord &) override { Add("started"); }
    void HopStarted(const rt::TraceRecord &, const rt::HopRecord &hop) override { Add("hop " + N(hop)); }
    void HopCompleted(const rt::TraceRecord &, const rt::HopRecord &hop) override { Add("done " + N(hop)); }
    void TraceEnded(const rt::TraceRecord &trace) override { Add("ended " + std::to_string(trace.hops.size())); }
    void FactNoted(const rt::TraceFact &fact) override {
        if (auto *missing = std::get_if<rt::PlaceDatabaseMissing>(&fact)) {
            Add("no database " + missing->file);
            std::lock_guard lock(mutex_);
            lookedIn_ = missing->lookedIn;
        }
        if (auto *name = std::get_if<rt::NameNotResolved>(&fact)) Add("not resolved " + name->name);
        if (std::holds_alternative<rt::EchoUnavailable>(fact)) Add("no ICMP");
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::string> lookedIn() {
        std::lock_guard lock(mutex_);
        return lookedIn_;
    }

  private:
    static std::string N(const rt::HopRecord &hop) { return std::to_string(hop.hop); }
    void Add(std::string line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }
    std::mutex mutex_;
    std::vector<std::string> lines_, lookedIn_;
};

class TraceRecords : public ::testing::Test {
  protected:
    void SetUp() override {
        rt::Traces().Reset();
        rt::Traces().SetLayout({unit_id::Id_ResultList, 1, 2, 3, "QQWry.dat"});
        rt::Traces().Subscribe(log_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_.path()); // no place database here
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        rt::Traces().Unsubscribe(log_.get());
        rt::Traces().Reset();
    }

    std::shared_ptr<Log> log_ = std::make_shared<Log>();
    ScopedRecorder frontEnd_;
    TempDir folder_;
    std::filesystem::path previous_;
};

TEST_F(TraceRecords, TheProgramsTraceToLoopbackIsRecordedHopByHop) {
    frontEnd_->controls().SetText(unit_id::Id_TargetBox, "127.0.0.1");
    TraceRun();
    std::vector<std::string> lines = log_->lines();
    if (std::find(lines.begin(), lines.end(), "no ICMP") != lines.end())
        GTEST_SKIP() << "no ICMP channel can be opened here (no ICMP socket, no helper with its right)";

    rt::TraceRecord trace = rt::Traces().Current();
    EXPECT_EQ(trace.target, "127.0.0.1");
    ASSERT_TRUE(trace.address);
    EXPECT_EQ(rt::DottedAddress(*trace.address), "127.0.0.1");
    EXPECT_TRUE(trace.ended);
    ASSERT_EQ(trace.hops.size(), 1u) << "loopback answers the first hop";
    const rt::HopRecord &hop = trace.hops[0];
    EXPECT_EQ(hop.hop, 1);
    ASSERT_EQ(hop.probes.size(), 1u);
    const rt::ProbeRecord &probe = hop.probes[0];
    EXPECT_EQ(probe.ttl, 1);
    EXPECT_EQ(probe.dataSize, 32u);
    EXPECT_EQ(probe.destination, *trace.address);
    EXPECT_EQ(probe.answer, rt::AnswerKind::EchoReply);
    EXPECT_EQ(probe.from, *trace.address);
    EXPECT_NE(probe.sent.time_since_epoch().count(), 0);
    EXPECT_EQ(hop.address, "127.0.0.1");
    EXPECT_EQ(hop.place, "") << "no place database";
    EXPECT_TRUE(std::regex_match(hop.timeText, std::regex("<10 ms|[0-9]+ms|\\*"))) << hop.timeText;
    EXPECT_TRUE(hop.reached);

    EXPECT_EQ(lines, (std::vector<std::string>{"started", "hop 1", "no database QQWry.dat", "done 1", "ended 1"}));
    std::vector<std::string> lookedIn = log_->lookedIn();
    ASSERT_FALSE(lookedIn.empty());
    EXPECT_EQ(std::filesystem::path(lookedIn[0]), std::filesystem::current_path()) << "the current folder first";
    // The program's own messages are left to it: the database's, then the trace's end.
    EXPECT_EQ(frontEnd_->messages().size(), 2u);
}

TEST_F(TraceRecords, ANameTheResolverCannotFindIsAFactAndLeavesTheTraceWithoutAddress) {
    // A label of 64 characters cannot be put into a DNS question: no name server is asked.
    const std::string name = std::string(64, 'a') + ".test";
    Owned address(ResolveTarget(name.c_str()));
    EXPECT_EQ(address.str(), "");
    rt::TraceRecord trace = rt::Traces().Current();
    EXPECT_EQ(trace.target, name);
    EXPECT_FALSE(trace.address);
    EXPECT_EQ(log_->lines(), (std::vector<std::string>{"started", "not resolved " + name}));
}

} // namespace
