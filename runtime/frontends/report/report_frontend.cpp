#include "report_frontend.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "formats/text/text.h"
#include "runtime/core/echo_bounds.h"
#include "runtime/core/files.h"

namespace rt {

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        size_t n = Utf8CharLength(utf8.substr(i));
        bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
        if (n == 0) { // a byte that is not text: the replacement character keeps the document UTF-8
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F || c1) { // no control character reaches a log that shows the document
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\u%04x", c1 ? static_cast<unsigned char>(utf8[i + 1]) : c);
                out += hex;
            } else {
                out.append(utf8.substr(i, n));
            }
        }
        i += n;
    }
    return out + "\"";
}

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

class Report final : public ReportFrontEnd {
  public:
    Report(ReportOptions options, form::Form form)
        : ReportFrontEnd(std::move(form), options.routineAt), options_(std::move(options)) {
        SetEchoBounds({options_.waitMs, uint32_t(options_.maxHops)}, [this](const EchoOutcome &o) {
            std::lock_guard lock(timesMutex_);
            if (o.answered) roundTrips_[o.ttl] = o.roundTripMs;
            else roundTrips_.erase(o.ttl);
        });
        if (!options_.record) Runtime::Instance().HoldConfigurationWrites();
        WatchSignals();
    }

    // A message keeps its place among the rows: one shown while a row is being filled follows that
    // row, so the trace's closing message comes after the last hop on a terminal that shows both.
    // The database's message comes once, with where the database was looked for.
    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view>) override {
        std::lock_guard lock(printMutex_);
        if (!options_.databaseMissing.empty() && text == options_.databaseMissing) {
            if (databaseReported_) return;
            databaseReported_ = true;
            held_.push_back({controls().RowCount(options_.resultList), GbkToUtf8(text) + "\n" + DatabaseHint()});
        } else {
            held_.push_back({controls().RowCount(options_.resultList), GbkToUtf8(text)});
        }
        PrintHeldMessages(false);
    }
    void OpenUrl(std::string_view url) override { std::fprintf(options_.err, "%s\n", GbkToUtf8(url).c_str()); }
    void Pump() override {}
    void RequestQuit() override { Runtime::Instance().Exit(kReportNotReached); }

    // The start routine shows the window: its created event, the target and size put into their
    // boxes as a person would type them, then the start button's event.
    void ShowWindow(uint32_t window) override {
        if (window != form_.windowId) return;
        started_ = std::time(nullptr);
        Call(form_.Handler(form_.window.id, form::kEventCreated));
        controls().SetText(options_.targetBox, Utf8ToGbk(options_.target));
        if (options_.size) controls().SetText(options_.sizeBox, Utf8ToGbk(*options_.size));
        Call(form_.Handler(options_.startButton, form::kEventClicked));
        startedTrace_ = true;
    }

    // Waits for the trace to end (its thread returns after the last allowed hop, which the echo
    // bounds make quick), prints what is left, and ends the program with the report's code.
    void RunEvents() override {
        if (startedTrace_) Runtime::Instance().WaitForThreads();
        int32_t code;
        {
            std::lock_guard lock(printMutex_);
            PrintCompletedRowsLocked(true);
            PrintHeldMessages(true);
            code = ExitCode();
            if (code == kReportNoTrace && EchoHandleRefused())
                std::fprintf(options_.err, "%s: %s", options_.programName.c_str(), options_.icmpHint.c_str());
            if (code == kReportNotReached && Address().empty())
                std::fprintf(options_.err, "%s: %s: the name did not resolve to an IPv4 address\n",
                             options_.programName.c_str(), EscapeControls(options_.target).c_str());
            if (options_.json) PrintJson(code == kReportReached, false);
            std::fflush(options_.out);
            std::fflush(options_.err);
            finished_ = true;
        }
        Runtime::Instance().Exit(code);
    }

    // On SIGINT or SIGTERM: the rows so far, as a whole document in JSON; the text keeps what it printed.
    void Interrupt(int signal) {
        {
            std::lock_guard lock(printMutex_);
            if (finished_) return; // the report is complete and about to end with its own code
            PrintHeldMessages(true);
            if (options_.json) PrintJson(false, true);
            std::fflush(options_.out);
            std::fflush(options_.err);
            finished_ = true;
        }
        Runtime::Instance().Exit(kReportInterrupted + signal);
    }

  private:
    // Each completed row of the result list is printed as it completes.
    void ControlChanged(uint32_t unit, ControlModel::Change change) override {
        if (unit == options_.resultList && change == ControlModel::Change::Rows) PrintCompletedRows(false);
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

    std::string DatabaseHint() const {
        std::string folder = Runtime::Instance().ProgramFolder();
        std::error_code ec;
        std::string hint = options_.programName + ": the place database " + options_.databaseFile +
                           " was looked for in " + std::filesystem::current_path(ec).string();
        for (const std::string &candidate :
             DataFileCandidates(options_.databaseFile, folder, Runtime::Instance().product().folder))
            hint += ", " + std::filesystem::path(candidate).parent_path().string();
        return EscapeControls(hint) + "; places stay empty.";
    }

    std::string Address() { return controls().Text(options_.addressBox); }

    // The rows the report shows: the trace's, up to the last allowed hop; none when the target
    // did not resolve (the program then probes nothing meaningful).
    int32_t ShownRows(bool all) {
        int32_t rows = controls().RowCount(options_.resultList);
        int32_t complete = all ? rows : rows - 1;
        if (Address().empty()) return 0;
        return std::min(complete, options_.maxHops);
    }

    // A row is complete once the next one is appended, or the trace has ended.
    void PrintCompletedRows(bool all) {
        std::lock_guard lock(printMutex_);
        PrintCompletedRowsLocked(all);
    }

    void PrintCompletedRowsLocked(bool all) {
        if (finished_) return;
        int32_t rows = controls().RowCount(options_.resultList);
        if (rows < printed_) { // the list was cleared for a new trace: what was held belongs before it
            printed_ = 0;
            for (HeldMessage &m : held_) m.afterRows = 0;
            PrintHeldMessages(false);
        }
        int32_t complete = ShownRows(all);
        while (printed_ < complete) {
            if (!options_.json) {
                std::string line = std::to_string(printed_ + 1);
                if (Cell(printed_, 1).empty()) line += "\t*\t\t";
                else
                    line += "\t" + EscapeControls(Cell(printed_, 1)) + "\t" + EscapeControls(Cell(printed_, 2)) + "\t" +
                            EscapeControls(Cell(printed_, 3));
                std::fprintf(options_.out, "%s\n", line.c_str());
                std::fflush(options_.out);
            }
            ++printed_;
            PrintHeldMessages(false);
        }
    }

    std::string Cell(int32_t row, int32_t column) {
        return GbkToUtf8(controls().Cell(options_.resultList, row, column));
    }

    // Under printMutex_: the held messages whose rows have all been printed (all of them at the end).
    void PrintHeldMessages(bool all) {
        size_t n = 0;
        for (; n < held_.size() && (all || held_[n].afterRows <= printed_); ++n) {
            std::fprintf(options_.err, "%s\n", held_[n].text.c_str());
            std::fflush(options_.err);
        }
        held_.erase(held_.begin(), held_.begin() + ptrdiff_t(n));
    }

    // Reached: the last hop shown answered from the traced address. No hop at all: nothing could be sent.
    int32_t ExitCode() {
        int32_t rows = controls().RowCount(options_.resultList);
        if (rows == 0) return kReportNoTrace;
        std::string address = Address();
        int32_t shown = ShownRows(true);
        return !address.empty() && shown > 0 && controls().Cell(options_.resultList, shown - 1, 1) == address
                   ? kReportReached
                   : kReportNotReached;
    }

    // Under printMutex_: the document of the rows printed so far.
    void PrintJson(bool reached, bool interrupted) {
        char started[32] = "";
        if (const std::tm *t = std::gmtime(&started_)) std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", t);
        char wait[32];
        std::snprintf(wait, sizeof wait, "%g", options_.waitMs / 1000.0);
        std::string address = GbkToUtf8(Address());
        std::string out = "{\"target\": " + JsonString(options_.target) +
                          ", \"address\": " + (address.empty() ? "null" : JsonString(address)) +
                          ", \"started\": " + JsonString(started) +
                          ", \"max_hops\": " + std::to_string(options_.maxHops) + ", \"wait\": " + wait +
                          ", \"size\": " + (options_.size ? *options_.size : "32") +
                          ", \"reached\": " + (reached ? "true" : "false") +
                          ", \"interrupted\": " + (interrupted ? "true" : "false") + ", \"hops\": [";
        std::map<uint32_t, uint32_t> roundTrips;
        {
            std::lock_guard lock(timesMutex_);
            roundTrips = roundTrips_;
        }
        for (int32_t r = 0; r < printed_; ++r) {
            out += std::string(r ? ", " : "") + "{\"hop\": " + std::to_string(r + 1);
            std::string hop = Cell(r, 1), place = Cell(r, 2), time = Cell(r, 3);
            auto rtt = roundTrips.find(uint32_t(r + 1));
            if (hop.empty()) {
                out += ", \"address\": null, \"place\": null, \"rtt_ms\": null, \"time\": null}";
                continue;
            }
            out += ", \"address\": " + JsonString(hop) +
                   ", \"place\": " + (place.empty() ? "null" : JsonString(place)) +
                   ", \"rtt_ms\": " + (rtt != roundTrips.end() ? std::to_string(rtt->second) : "null") +
                   ", \"time\": " + (time.empty() ? "null" : JsonString(time)) + "}";
        }
        out += "]}\n";
        std::fputs(out.c_str(), options_.out);
    }

    ReportOptions options_;
    std::time_t started_ = 0;
    bool startedTrace_ = false;
    std::mutex printMutex_;
    bool finished_ = false; // the output is complete: nothing more is printed
    bool databaseReported_ = false;
    int32_t printed_ = 0; // rows printed (or, in JSON, taken into the document)
    struct HeldMessage {
        int32_t afterRows; // the rows there were when it was shown
        std::string text;
    };
    std::vector<HeldMessage> held_;
    std::mutex timesMutex_;
    std::map<uint32_t, uint32_t> roundTrips_; // hop -> its answer's round trip, milliseconds
};

} // namespace

ReportFrontEnd::~ReportFrontEnd() = default;

FrontEndResult<ReportFrontEnd> ReportFrontEnd::Create(ReportOptions options) {
    return MakeFormFrontEnd<ReportFrontEnd, Report>(std::move(options));
}

} // namespace rt
