#include "command_line.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "contract/form_layout.h"
#include "product.h"

namespace product {

namespace {

// What a report's interruption and the window's fallback are called where the program runs: Windows
// has no terminal window to fall back to, and Ctrl-C (in the console that started routetrace.com) is
// its only interruption.
#ifdef _WIN32
#define RT_USAGE_WINDOW "open the window"
#define RT_USAGE_INTERRUPTED "130 interrupted (Ctrl-C)"
#else
#define RT_USAGE_WINDOW "open the window (or, without a display, the terminal window)"
#define RT_USAGE_INTERRUPTED "130/143 interrupted (SIGINT/SIGTERM)"
#endif
// The live view needs a terminal of the kind Linux programs draw on.
#ifdef _WIN32
#define RT_USAGE_WATCH ""
#else
#define RT_USAGE_WATCH                                                                                     \
    "       routetrace --watch TARGET [OPTIONS]\n"                                                         \
    "                                      the rounds as a full-screen table in the terminal, refreshed\n" \
    "                                      after each one until q or Ctrl-C (or -c N rounds); p pauses,\n" \
    "                                      r resets the figures; then the table is printed\n"
#endif

constexpr const char kUsage[] =
    "usage: routetrace                     " RT_USAGE_WINDOW "\n"
    "       routetrace --report TARGET [OPTIONS]\n"
    "                                      trace TARGET without a window and print each hop:\n"
    "                                      HOP, ADDRESS, PLACE, TIME (tab-separated, UTF-8)\n" RT_USAGE_WATCH
    "       routetrace -h | --help | -V | --version\n"
    "options of a report:\n"
    "  -m, --max-hops N    the last hop probed, 1 to 255 (default 30)\n"
    "  -w, --wait SECONDS  how long each hop waits for its answer, 0.1 to 10 (default 2.4)\n"
    "  -s, --size N        characters per packet, 32 to 128 (default 32)\n"
    "  -n, --numeric       accepted: hop addresses are never resolved to names\n"
    "  -q N                probes per hop in a round: 1 only (one probe per hop is the program's design)\n"
    "  -c, --cycles N      trace N rounds, 1 to 1000 (default 1); more than one prints each hop's\n"
    "                      loss and round trips over the rounds in a table, and every address that\n"
    "                      answered at it\n"
    "  -i, --interval SECONDS\n"
    "                      from one round's start to the next, 0.1 to 60 (default 1); a slow round\n"
    "                      sets the pace, rounds never overlap\n"
    "      --json          one JSON document instead of a line per hop (or the table)\n"
    "      --csv           the figures over the rounds as CSV, one line per hop and address\n"
    "      --record        add the target to the window's history, as the window does\n"
    "      --asn           add each hop's network (AS number and name) from the offline table asn.dat\n"
    "      --              what follows is the target, even when it starts with -\n"
    "options and TARGET come in any order.\n"
    "exit status: 0 reached, 1 not reached within the hops or the target did not resolve,\n"
    "             2 cannot run (arguments, ICMP unavailable), " RT_USAGE_INTERRUPTED "\n";

// A whole number from lo to hi written in full, or nothing.
std::optional<long> WholeNumber(const std::string &text, long lo, long hi) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return std::nullopt;
    long v = std::strtol(text.c_str(), nullptr, 10);
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

// Seconds from lo to hi, a decimal number written in full, or nothing.
std::optional<double> Seconds(const std::string &text, double lo, double hi) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (errno || *end || !std::isfinite(v) || v < lo - 1e-9 || v > hi + 1e-9) return std::nullopt;
    return v;
}

// Options that have no short name.
enum LongOnly : int { kReport = 0x100, kJson, kRecord, kAsn, kCsv, kWatch };

// "+": options end at the first other argument whatever POSIXLY_CORRECT says, and the parser below
// takes that argument as the target and goes on, so options and the target come in any order with
// or without it. ":": a missing value is told apart from an unknown option.
constexpr const char kShortOptions[] = "+:m:w:s:q:c:i:nhV";
const option kLongOptions[] = {
    {"report", optional_argument, nullptr, kReport},
    {"watch", optional_argument, nullptr, kWatch},
    {"max-hops", required_argument, nullptr, 'm'},
    {"wait", required_argument, nullptr, 'w'},
    {"size", required_argument, nullptr, 's'},
    {"numeric", no_argument, nullptr, 'n'},
    {"cycles", required_argument, nullptr, 'c'},
    {"interval", required_argument, nullptr, 'i'},
    {"json", no_argument, nullptr, kJson},
    {"csv", no_argument, nullptr, kCsv},
    {"record", no_argument, nullptr, kRecord},
    {"asn", no_argument, nullptr, kAsn},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// Whether a word names a long option in full: getopt_long would also take a unique abbreviation.
bool FullLongName(const std::string &word, const char *name) {
    size_t n = std::strlen(name);
    return word.size() >= n + 2 && word.compare(0, 2, "--") == 0 && word.compare(2, n, name) == 0 &&
           (word.size() == n + 2 || word[n + 2] == '=');
}

} // namespace

const char *const kNoWindowHint =
    "routetrace: no display and no terminal to show the window in.\n"
    "To trace without a window, run a report: routetrace --report TARGET (see routetrace --help).";

const char *const kWatchHint = "For scripts, run a report over rounds instead: routetrace --report -c N TARGET";

Request ParseCommandLine(const std::vector<std::string> &args, FILE *out, FILE *err) {
    Request r;
    bool asked = false;
    for (const std::string &a : args)
        asked = asked || a == "--report" || a.rfind("--report=", 0) == 0 || a == "--watch" ||
                a.rfind("--watch=", 0) == 0 || a == "-h" || a == "--help" || a == "-V" || a == "--version";
    if (!asked) return r; // the window, whatever else is there

    auto refuse = [&](const std::string &why) {
        std::fprintf(err, "routetrace: %s\n%s", why.c_str(), kUsage);
        r.exitNow = rt::kReportNoTrace;
        return r;
    };
    rt::ReportOptions report;
    bool wantReport = false, watch = false, cyclesGiven = false, help = false, version = false;
    std::optional<std::string> target;
    // A target: the one argument that is no option, anywhere, or the value of --report=.
    auto take = [&](const std::string &value) {
        if (target) return false;
        target = value;
        return true;
    };

    std::vector<std::string> words = {"routetrace"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = int(words.size());
    opterr = 0; // the program's own messages
    optind = 0; // getopt starts afresh, in glibc and mingw-w64 alike
    for (;;) {
        const int at = std::max(optind, 1); // the word being read: options are never moved
        int index = -1;
        int c = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, &index);
        if (c == -1) {
            if (optind >= argc) break;
            bool ended = optind == at + 1 && words[at] == "--";
            for (int i = optind; i < (ended ? argc : optind + 1); ++i)
                if (!take(words[i])) return refuse("unexpected argument \"" + words[i] + "\"");
            if (ended) break;
            ++optind;
            continue;
        }
        const std::string &word = words[size_t(at)];
        // A value given to an option that takes none is ':' for mingw-w64, '?' for glibc.
        bool valueGiven = word.rfind("--", 0) == 0 && word.find('=') != std::string::npos;
        if (c == '?' || (c == ':' && valueGiven) || (index >= 0 && !FullLongName(word, kLongOptions[index].name)))
            return refuse("unexpected argument \"" + word + "\"");
        // The option as it was named: -m, or --max-hops without its value.
        std::string name =
            word.rfind("--", 0) == 0 ? word.substr(0, word.find('=')) : std::string("-") + char(c == ':' ? optopt : c);
        if (c == ':') return refuse(name + " needs a value");
        const std::string value = optarg ? optarg : "";
        // A value that did not read within its range: the option is refused, saying what it takes.
        std::optional<std::string> outOfRange;
        auto within = [&](auto parsed, const char *takes) {
            if (!parsed) outOfRange = name + " takes " + takes + ", not \"" + value + "\"";
            return parsed.value_or(0);
        };
        switch (c) {
        case kWatch: // a report whose rounds are shown as they run
            watch = true;
            [[fallthrough]];
        case kReport:
            wantReport = true;
            if (optarg && !take(value)) return refuse("unexpected argument \"" + word + "\"");
            break;
        case 'm': {
            auto n = WholeNumber(value, 1, 255);
            if (!n) return refuse(name + " takes a whole number from 1 to 255, not \"" + value + "\"");
            report.maxHops = int32_t(*n);
            break;
        }
        case 'w': {
            auto seconds = Seconds(value, 0.1, 10);
            if (!seconds) return refuse(name + " takes seconds from 0.1 to 10, not \"" + value + "\"");
            report.waitMs = uint32_t(std::lround(*seconds * 1000));
            break;
        }
        case 's': {
            auto n = WholeNumber(value, 32, 128);
            if (!n) return refuse(name + " takes a whole number from 32 to 128, not \"" + value + "\"");
            report.size = std::to_string(*n);
            break;
        }
        case 'q':
            if (value != "1") return refuse(name + " " + value + ": one probe per hop is all this program sends");
            break;
        case 'c':
            report.cycles = uint32_t(within(WholeNumber(value, 1, 1000), "a whole number from 1 to 1000"));
            cyclesGiven = true;
            break;
        case 'i':
            report.intervalMs = uint32_t(std::lround(within(Seconds(value, 0.1, 60), "seconds from 0.1 to 60") * 1000));
            break;
        case kCsv: report.csv = true; break;
        case kJson: report.json = true; break;
        case kRecord: report.record = true; break;
        case kAsn: report.asn = true; break;
        case 'h': help = true; break;
        case 'V': version = true; break;
        default: break; // -n: hop addresses are never resolved anyway
        }
        if (outOfRange) return refuse(*outOfRange);
    }
    if (help || version) {
        if (help) std::fputs(kUsage, out);
        else std::fprintf(out, "routetrace %s\n", product::kVersion);
        r.exitNow = 0;
        return r;
    }
    if (!wantReport) return refuse("these options go with --report");
    if (!target) return refuse(watch ? "--watch needs a value" : "--report needs a value");
    if (report.json && report.csv) return refuse("--json and --csv cannot go together");
    report.target = *target;
    // How a person starts a trace in the program's window: the report does the same.
    using namespace unit_id;
    report.targetBox = Id_TargetBox;
    report.sizeBox = Id_PacketSizeBox;
    report.startButton = Id_StartButton;
    report.icmpHint = "ICMP sockets cannot be opened here. Allow them for your group, for example with\n"
                      "  sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
                      "or give the raw-socket right to the program's ICMP helper, as the package does where setcap\n"
                      "is installed (the helper beside the program, or the package's):\n"
                      "  sudo setcap cap_net_raw+ep /usr/libexec/routetrace/routetrace-icmp\n";
    // The live view runs until its user stops it, unless a number of rounds was asked for.
    if (watch && !cyclesGiven) report.cycles = 0;
    r.report = std::move(report);
    r.watch = watch;
    return r;
}

} // namespace product
