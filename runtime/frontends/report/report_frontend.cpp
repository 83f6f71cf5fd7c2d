#include "report_frontend.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <unistd.h>

#include "formats/text/text.h"
#include "runtime/core/echo_bounds.h"
#include "runtime/core/path_stats.h"
#include "runtime/core/trace_records.h"
#include "runtime/frontends/report/report_rounds.h"

namespace rt {

namespace {

class Report;
std::atomic<Report *> g_interruptible{nullptr};

// SIGINT and SIGTERM: the report prints what it has as a whole document and ends. The handler only
// hands the signal's number to a thread of the report's own, which may take locks and print.
#ifndef _WIN32
int g_signalPipe[2] = {-1, -1};
extern "C" void OnSignal(int signal) {
    unsigned char n = static_cast<unsigned char>(signal);
    int saved = errno;
    [[maybe_unused]] ssize_t written = ::write(g_signalPipe[1], &n, 1);
    errno = saved;
}
#endif

// Hands the trace's records and facts to the report.
class ReportListener final : public TraceListener {
  public:
    explicit ReportListener(Report &report) : report_(report) {}
    void TraceStarted(const TraceRecord &) override;
    void HopStarted(const TraceRecord &, const HopRecord &hop) override;
    void HopCompleted(const TraceRecord &trace, const HopRecord &hop) override;
    void FactNoted(const TraceFact &fact) override;

  private:
    Report &report_;
};

class Report final : public ReportFrontEnd {
  public:
    Report(ReportOptions options, form::Form form)
        : ReportFrontEnd(std::move(form), options.routineAt), options_(std::move(options)),
          listener_(std::make_shared<ReportListener>(*this)) {
        SetEchoBounds({options_.waitMs, uint32_t(options_.maxHops)});
        Traces().Subscribe(listener_);
        if (!options_.record) Runtime::Instance().HoldConfigurationWrites();
        if (options_.asn) asn_.Load(options_.asnFile, options_.programName, options_.err);
        WatchSignals();
    }
    ~Report() override { Traces().Unsubscribe(listener_.get()); }

    // A message keeps its place among the rows: one shown while a hop is under way follows that
    // hop, so the trace's closing message comes after the last hop on a terminal that shows both.
    // The message the program shows for a missing place database comes once, with where the
    // database was looked for.
    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view>) override {
        std::lock_guard lock(printMutex_);
        FactMessage told = factMessage_;
        factMessage_ = FactMessage::None;
        if (told == FactMessage::Drop) return;
        // Over rounds, the program says the same things every round: each is said once.
        if (Rounds() && !said_.insert(std::string(text)).second) return;
        held_.push_back({hopsStarted_, GbkToUtf8(text) + (told == FactMessage::Tell ? "\n" + databaseHint_ : "")});
        PrintHeldMessages(false);
    }
    void OpenUrl(std::string_view url) override { std::fprintf(options_.err, "%s\n", GbkToUtf8(url).c_str()); }
    void RequestQuit() override { Runtime::Instance().Exit(kReportNotReached); }
    // Every end of the process passes here (a runtime error too): the live view gives the terminal
    // back, and the messages it held, before the process ends.
    void Shutdown() override { FinishObserver(); }

    // The start routine shows the window: its created event, the target and size put into their
    // boxes as a person would type them, then the start button's event.
    void ShowWindow(uint32_t window) override {
        if (window != form_.windowId) return;
        started_ = std::time(nullptr);
        roundStarted_ = std::chrono::steady_clock::now();
        Call(form_.Handler(form_.window.id, form::kEventCreated));
        controls().SetText(options_.targetBox, Utf8ToGbk(options_.target));
        if (options_.size) controls().SetText(options_.sizeBox, Utf8ToGbk(*options_.size));
        Call(form_.Handler(options_.startButton, form::kEventClicked));
        startedTrace_ = true;
    }

    // Waits for the trace to end (its thread returns after the last allowed hop, which the echo
    // bounds make quick), prints what is left, and ends the program with the report's code.
    void RunEvents() override {
        if (Rounds()) RunRounds();
        if (startedTrace_) Runtime::Instance().WaitForThreads();
        int32_t code;
        {
            std::lock_guard lock(printMutex_);
            TraceRecord trace = Traces().Current();
            for (const HopRecord &hop : trace.hops) Take(trace, hop);
            SettleFactMessage();
            PrintHeldMessages(true);
            code = ExitCode(trace);
            ReportProblems(code);
            if (options_.json) PrintJson(trace, code == kReportReached, false);
            std::fflush(options_.out);
            std::fflush(options_.err);
            finished_ = true;
        }
        Runtime::Instance().Exit(code);
    }

    // On SIGINT or SIGTERM: the hops so far, as a whole document in JSON; the text keeps what it printed.
    void Interrupt(int signal) {
        // Said before the live view is told to end: the rounds it stops then must leave the final
        // figures to this thread, which prints them once the terminal is given back.
        interrupted_.store(true);
        FinishObserver();
        {
            std::lock_guard lock(printMutex_);
            if (finished_) return; // the report is complete and about to end with its own code
            SettleFactMessage();
            PrintHeldMessages(true);
            if (Rounds()) PrintRounds(StatsSoFar(), true);
            else if (options_.json) PrintJson(Traces().Current(), false, true);
            std::fflush(options_.out);
            std::fflush(options_.err);
            finished_ = true;
        }
        Runtime::Instance().Exit(kReportInterrupted + signal);
    }

    // ---- The trace's records, as the trace runs ----

    // The program empties its list for a new trace: what was held belongs before it.
    void NewTrace() {
        std::lock_guard lock(printMutex_);
        hopsStarted_ = 0;
        if (taken_.empty()) return;
        taken_.clear();
        for (HeldMessage &m : held_) m.afterHops = 0;
        PrintHeldMessages(false);
    }
    void HopStarted(int32_t hop) {
        std::lock_guard lock(printMutex_);
        SettleFactMessage();
        hopsStarted_ = hop;
    }
    void HopCompleted(const TraceRecord &trace, const HopRecord &hop) {
        std::lock_guard lock(printMutex_);
        Take(trace, hop);
    }
    void Fact(const TraceFact &fact) {
        std::lock_guard lock(printMutex_);
        if (const auto *missing = std::get_if<PlaceDatabaseMissing>(&fact)) {
            // The program tells of it in the message it shows next: said once, with where.
            factMessage_ = databaseTold_ ? FactMessage::Drop : FactMessage::Tell;
            if (!databaseTold_) databaseHint_ = DatabaseHint(*missing);
            databaseTold_ = true;
        }
        nameUnresolved_ = nameUnresolved_ || std::holds_alternative<NameNotResolved>(fact);
        echoUnavailable_ = echoUnavailable_ || std::holds_alternative<EchoUnavailable>(fact);
    }

  private:
    // A report over rounds prints the hops' figures at the end; one round prints each hop's row.
    bool Rounds() const { return options_.cycles > 1 || options_.csv || options_.observer; }

    // The rounds, one after another, each the program's own trace started as a person starts it.
    // The first resolves the target; later ones trace the address it resolved to. A round starts
    // at the later of the last one's start plus the interval and its end: rounds never overlap.
    [[noreturn]] void RunRounds() {
        bool sawHops = false;
        for (uint32_t round = 1;; ++round) {
            if (startedTrace_) Runtime::Instance().WaitForThreads();
            TraceRecord trace = Traces().Current();
            PathStats stats;
            {
                std::lock_guard lock(printMutex_);
                if (finished_) break; // interrupted: the signal's thread prints and ends
                builder_.AddRound(trace, options_.maxHops);
                roundsAdded_ = round;
                stats = builder_.Stats();
            }
            sawHops = sawHops || !trace.hops.empty();
            if (options_.observer) options_.observer->RoundEnded(stats);
            if ((options_.cycles && round >= options_.cycles) || !trace.address || trace.hops.empty()) break;
            const auto due = std::max(roundStarted_ + std::chrono::milliseconds(options_.intervalMs),
                                      std::chrono::steady_clock::now());
            RoundsNext next = RoundsNext::Go;
            if (!options_.observer) std::this_thread::sleep_until(due);
            // A reset forgets the figures only: the next round still waits for its time.
            while (options_.observer && (next = options_.observer->WaitForNextRound(due)) == RoundsNext::Reset) {
                {
                    std::lock_guard lock(printMutex_);
                    builder_.Reset();
                    stats = builder_.Stats();
                }
                options_.observer->RoundEnded(stats);
            }
            if (next == RoundsNext::Stop) break;
            StartRound(*trace.address);
        }
        FinishObserver();
        int32_t code = kReportInterrupted;
        {
            std::lock_guard lock(printMutex_);
            if (!finished_ && !interrupted_.load()) code = FinishRounds(sawHops);
        }
        // Interrupted: the signal's thread has printed the figures and ends the process.
        while (code == kReportInterrupted) std::this_thread::sleep_for(std::chrono::hours(1));
        Runtime::Instance().Exit(code);
    }

    // Under printMutex_: the final figures and the report's code.
    int32_t FinishRounds(bool sawHops) {
        SettleFactMessage();
        PrintHeldMessages(true);
        const PathStats &stats = builder_.Stats();
        int32_t code = stats.reached ? kReportReached : sawHops ? kReportNotReached : kReportNoTrace;
        ReportProblems(code);
        PrintRounds(stats, false);
        finished_ = true;
        return code;
    }

    // The next round: the resolved address typed into the target box and the start button pressed.
    // The program's start event would add the target to the history again: from now on it is held.
    void StartRound(uint32_t address) {
        if (roundsStarted_ == 1) Runtime::Instance().HoldConfigurationWrites();
        {
            std::lock_guard lock(printMutex_);
            ++roundsStarted_;
            taken_.clear(); // the last round's hops, which it has taken in
        }
        roundStarted_ = std::chrono::steady_clock::now();
        controls().SetText(options_.targetBox, DottedAddress(address));
        Call(form_.Handler(options_.startButton, form::kEventClicked));
    }

    // The live view gives the terminal back, once, before the final figures are printed. A second
    // caller (the signal's thread and the rounds' at once) waits until the terminal is back.
    void FinishObserver() {
        if (options_.observer) std::call_once(observerFinished_, [this] { options_.observer->Finish(); });
    }

    // Under printMutex_: the figures of the rounds taken in, and of the one under way as far as it came.
    PathStats StatsSoFar() const {
        if (roundsStarted_ == roundsAdded_) return builder_.Stats();
        PathStatsBuilder builder = builder_;
        TraceRecord partial = Traces().Current();
        partial.hops.resize(std::min(partial.hops.size(), taken_.size()));
        builder.AddRound(partial, options_.maxHops);
        return builder.Stats();
    }

    // Under printMutex_: the final figures in the form asked for.
    void PrintRounds(const PathStats &stats, bool interrupted) {
        const AsTable *asn = options_.asn ? &asn_ : nullptr;
        if (options_.json) {
            ReportDocument d = Document(stats.address, stats.reached, interrupted);
            d.stats = &stats;
            d.cycles = options_.cycles;
            d.intervalMs = options_.intervalMs;
            std::fputs(ReportJson(d).c_str(), options_.out);
        } else {
            std::fputs((options_.csv ? RoundsCsv(stats, asn) : RoundsTable(stats, asn)).c_str(), options_.out);
        }
        std::fflush(options_.out);
        std::fflush(options_.err);
    }

    void WatchSignals() {
        g_interruptible.store(this);
#ifndef _WIN32
        if (::pipe(g_signalPipe) != 0) return;
        std::thread([] {
            unsigned char n = 0;
            while (::read(g_signalPipe[0], &n, 1) != 1) {}
            if (Report *r = g_interruptible.load()) r->Interrupt(n);
        }).detach();
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
#else
        // The system runs these handlers on a thread of their own, which may print.
        auto handler = [](int signal) {
            if (Report *r = g_interruptible.load()) r->Interrupt(signal);
        };
        std::signal(SIGINT, handler);
        std::signal(SIGTERM, handler);
#endif
    }

    std::string DatabaseHint(const PlaceDatabaseMissing &missing) const {
        std::string hint = options_.programName + ": the place database " + missing.file + " was looked for in ";
        for (size_t i = 0; i < missing.lookedIn.size(); ++i) hint += (i ? ", " : "") + missing.lookedIn[i];
        return EscapeControls(hint) + "; places stay empty.";
    }

    // Under printMutex_: a database's hint that no message of the program's carried is said alone.
    void SettleFactMessage() {
        if (factMessage_ == FactMessage::Tell) held_.push_back({hopsStarted_, databaseHint_});
        factMessage_ = FactMessage::None;
    }

    // Under printMutex_: the next hop, printed where the report shows it: up to the last allowed
    // hop, and none when the target did not resolve (the program then probes nothing meaningful).
    void Take(const TraceRecord &trace, const HopRecord &hop) {
        if (finished_ || hop.hop != int32_t(taken_.size()) + 1) return;
        if (!trace.address || hop.hop > options_.maxHops) return;
        if (!options_.json && !Rounds()) {
            std::string line = std::to_string(hop.hop);
            if (hop.address.empty()) line += options_.asn ? "\t*\t\t\t" : "\t*\t\t";
            else
                for (const std::string *field : {&hop.address, &hop.place, &hop.timeText})
                    line += "\t" + EscapeControls(GbkToUtf8(*field));
            if (options_.asn && !hop.address.empty()) line += "\t" + asn_.Column(hop);
            std::fprintf(options_.out, "%s\n", line.c_str());
            std::fflush(options_.out);
        }
        taken_.push_back(hop);
        PrintHeldMessages(false);
    }

    // Under printMutex_: the held messages whose hops have all been printed (all of them at the end).
    void PrintHeldMessages(bool all) {
        if (Rounds() && !all) return; // the rows come at the end: so do the messages
        size_t n = 0;
        for (; n < held_.size() && (all || held_[n].afterHops <= int32_t(taken_.size())); ++n) {
            std::fprintf(options_.err, "%s\n", held_[n].text.c_str());
            std::fflush(options_.err);
        }
        held_.erase(held_.begin(), held_.begin() + ptrdiff_t(n));
    }

    // Under printMutex_: why the trace could not run, or found no path.
    void ReportProblems(int32_t code) {
        if (code == kReportNoTrace && echoUnavailable_)
            std::fprintf(options_.err, "%s: %s", options_.programName.c_str(), options_.icmpHint.c_str());
        if (code == kReportNotReached && nameUnresolved_)
            std::fprintf(options_.err, "%s: %s: the name did not resolve to an IPv4 address\n",
                         options_.programName.c_str(), EscapeControls(options_.target).c_str());
    }

    // Reached: the last hop shown answered from the target. No hop at all: nothing could be sent.
    int32_t ExitCode(const TraceRecord &trace) const {
        if (trace.hops.empty()) return kReportNoTrace;
        size_t shown = std::min(trace.hops.size(), size_t(options_.maxHops));
        return trace.address && trace.hops[shown - 1].reached ? kReportReached : kReportNotReached;
    }

    // Under printMutex_: the document of the hops taken so far.
    void PrintJson(const TraceRecord &trace, bool reached, bool interrupted) {
        ReportDocument d = Document(trace.address, reached, interrupted);
        d.hops = taken_;
        std::fputs(ReportJson(d).c_str(), options_.out);
    }

    // What every document holds besides the hops.
    ReportDocument Document(std::optional<uint32_t> address, bool reached, bool interrupted) const {
        ReportDocument d;
        d.target = options_.target;
        d.address = address;
        d.started = started_;
        d.maxHops = options_.maxHops;
        d.waitMs = options_.waitMs;
        d.size = options_.size ? std::stoi(*options_.size) : 32;
        d.reached = reached;
        d.interrupted = interrupted;
        d.asn = options_.asn ? &asn_ : nullptr;
        return d;
    }

    ReportOptions options_;
    AsTable asn_; // with --asn
    std::shared_ptr<ReportListener> listener_;
    std::time_t started_ = 0;
    std::chrono::steady_clock::time_point roundStarted_;
    PathStatsBuilder builder_;                     // the rounds taken in (under printMutex_)
    uint32_t roundsStarted_ = 1, roundsAdded_ = 0; // the first round starts with the window
    std::once_flag observerFinished_;
    std::atomic<bool> interrupted_{false}; // a signal came: its thread prints the figures and ends
    std::set<std::string> said_;           // the messages shown over rounds
    bool startedTrace_ = false;
    std::mutex printMutex_;
    bool finished_ = false; // the output is complete: nothing more is printed
    int32_t hopsStarted_ = 0;
    std::vector<HopRecord> taken_; // the hops printed (or, in JSON, taken into the document)
    struct HeldMessage {
        int32_t afterHops; // the hops under way when it was shown
        std::string text;
    };
    std::vector<HeldMessage> held_;
    // What the next message the program shows is: its telling of a missing database, the first
    // time with the hint, later not at all.
    enum class FactMessage { None, Tell, Drop } factMessage_ = FactMessage::None;
    bool databaseTold_ = false, nameUnresolved_ = false, echoUnavailable_ = false;
    std::string databaseHint_;
};

void ReportListener::TraceStarted(const TraceRecord &) { report_.NewTrace(); }
void ReportListener::HopStarted(const TraceRecord &, const HopRecord &hop) { report_.HopStarted(hop.hop); }
void ReportListener::HopCompleted(const TraceRecord &trace, const HopRecord &hop) { report_.HopCompleted(trace, hop); }
void ReportListener::FactNoted(const TraceFact &fact) { report_.Fact(fact); }

} // namespace

ReportFrontEnd::~ReportFrontEnd() = default;

FrontEndResult<ReportFrontEnd> ReportFrontEnd::Create(ReportOptions options) {
    return MakeFormFrontEnd<ReportFrontEnd, Report>(std::move(options));
}

} // namespace rt
