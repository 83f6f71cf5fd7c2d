#include "command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "contract/form_layout.h"
#include "product.h"

namespace product {

namespace {

constexpr const char kUsage[] =
    "usage: routetrace                     open the window (or, without a display, the terminal window)\n"
    "       routetrace --report TARGET [OPTIONS]\n"
    "                                      trace TARGET without a window and print each hop:\n"
    "                                      HOP, ADDRESS, PLACE, TIME (tab-separated, UTF-8)\n"
    "       routetrace -h | --help | -V | --version\n"
    "options of a report:\n"
    "  -m, --max-hops N    the last hop probed, 1 to 255 (default 30)\n"
    "  -w, --wait SECONDS  how long each hop waits for its answer, 0.1 to 10 (default 2.4)\n"
    "  -s, --size N        characters per packet, 32 to 128 (default 32)\n"
    "  -n, --numeric       accepted: hop addresses are never resolved to names\n"
    "  -q, -c N            probes per hop: 1 only (one probe per hop is the program's design)\n"
    "      --json          one JSON document instead of a line per hop\n"
    "      --record        add the target to the window's history, as the window does\n"
    "exit status: 0 reached, 1 not reached within the hops or the target did not resolve,\n"
    "             2 cannot run (arguments, ICMP unavailable), 130/143 interrupted (SIGINT/SIGTERM)\n";

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

struct Option {
    const char *shortName; // "-m", or null
    const char *longName;  // "--max-hops", or null
    bool takesValue;
};

constexpr Option kOptions[] = {
    {nullptr, "--report", true},  {"-m", "--max-hops", true}, {"-w", "--wait", true},     {"-s", "--size", true},
    {"-n", "--numeric", false},   {"-q", nullptr, true},      {"-c", nullptr, true},      {nullptr, "--json", false},
    {nullptr, "--record", false}, {"-h", "--help", false},    {"-V", "--version", false},
};

bool Is(const char *name, std::string_view word) { return name && word == name; }

} // namespace

const char *const kNoWindowHint =
    "routetrace: no display and no terminal to show the window in.\n"
    "To trace without a window, run a report: routetrace --report TARGET (see routetrace --help).";

Request ParseCommandLine(const std::vector<std::string> &args, FILE *out, FILE *err) {
    Request r;
    bool asked = false;
    for (const std::string &a : args)
        asked = asked || a == "--report" || a.rfind("--report=", 0) == 0 || a == "-h" || a == "--help" || a == "-V" ||
                a == "--version";
    if (!asked) return r; // the window, whatever else is there

    auto refuse = [&](const std::string &why) {
        std::fprintf(err, "routetrace: %s\n%s", why.c_str(), kUsage);
        r.exitNow = rt::kReportNoTrace;
        return r;
    };
    rt::ReportOptions report;
    bool wantReport = false, help = false, version = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string word = args[i], value;
        bool inlineValue = false;
        // --name=VALUE, and -mVALUE for a short option that takes one.
        if (word.rfind("--", 0) == 0 && word.find('=') != std::string::npos) {
            value = word.substr(word.find('=') + 1);
            word.resize(word.find('='));
            inlineValue = true;
        } else if (word.size() > 2 && word[0] == '-' && word[1] != '-') {
            value = word.substr(2);
            word.resize(2);
            inlineValue = true;
        }
        const Option *option = nullptr;
        for (const Option &o : kOptions)
            if (Is(o.shortName, word) || Is(o.longName, word)) option = &o;
        if (!option) return refuse("unexpected argument \"" + args[i] + "\"");
        if (option->takesValue && !inlineValue) {
            if (i + 1 >= args.size()) return refuse(word + " needs a value");
            value = args[++i];
        } else if (!option->takesValue && inlineValue) {
            return refuse("unexpected argument \"" + args[i] + "\"");
        }
        if (word == "--report") {
            wantReport = true;
            report.target = value;
        } else if (word == "-m" || word == "--max-hops") {
            auto n = WholeNumber(value, 1, 255);
            if (!n) return refuse(word + " takes a whole number from 1 to 255, not \"" + value + "\"");
            report.maxHops = int32_t(*n);
        } else if (word == "-w" || word == "--wait") {
            auto s = Seconds(value, 0.1, 10);
            if (!s) return refuse(word + " takes seconds from 0.1 to 10, not \"" + value + "\"");
            report.waitMs = uint32_t(std::lround(*s * 1000));
        } else if (word == "-s" || word == "--size") {
            auto n = WholeNumber(value, 32, 128);
            if (!n) return refuse(word + " takes a whole number from 32 to 128, not \"" + value + "\"");
            report.size = std::to_string(*n);
        } else if (word == "-q" || word == "-c") {
            if (value != "1") return refuse(word + " " + value + ": one probe per hop is all this program sends");
        } else if (word == "--json") {
            report.json = true;
        } else if (word == "--record") {
            report.record = true;
        } else if (word == "-h" || word == "--help") {
            help = true;
        } else if (word == "-V" || word == "--version") {
            version = true;
        } // -n: hop addresses are never resolved anyway
    }
    if (help || version) {
        if (help) std::fputs(kUsage, out);
        else std::fprintf(out, "routetrace %s\n", product::kVersion);
        r.exitNow = 0;
        return r;
    }
    if (!wantReport) return refuse("these options go with --report");
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
    r.report = std::move(report);
    return r;
}

} // namespace product
