#include "command_line.h"

#include <algorithm>
#include <cstdio>

#include "contract/form_layout.h"
#include "product.h"

namespace product {

namespace {

constexpr const char kUsage[] =
    "usage: routetrace                     open the window (or, without a display, the terminal window)\n"
    "       routetrace --report TARGET [--size N] [--json]\n"
    "                                      trace TARGET and print each hop: HOP, ADDRESS, PLACE, TIME\n"
    "                                      (tab-separated, UTF-8); exit 0 reached, 1 not reached,\n"
    "                                      2 no ICMP or wrong arguments\n"
    "       routetrace --help | --version\n";

} // namespace

Request ParseCommandLine(const std::vector<std::string> &args) {
    Request r;
    for (const std::string &a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            r.exitNow = 0;
            return r;
        }
        if (a == "--version") {
            std::printf("routetrace %s\n", product::kVersion);
            r.exitNow = 0;
            return r;
        }
    }
    // Only a report reads its arguments. Anything else (a file dropped on the program's icon, a
    // shortcut's argument) opens the window as a start without arguments does.
    if (std::find(args.begin(), args.end(), "--report") == args.end()) return r;
    rt::ReportOptions report;
    bool haveTarget = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        bool value = i + 1 < args.size();
        if (a == "--report" && value && !haveTarget) {
            haveTarget = true;
            report.target = args[++i];
        } else if (a == "--size" && value) {
            report.size = args[++i];
        } else if (a == "--json") {
            report.json = true;
        } else {
            std::fprintf(stderr, "routetrace: unexpected argument \"%s\"\n%s", a.c_str(), kUsage);
            r.exitNow = rt::kReportNoTrace;
            return r;
        }
    }
    using namespace unit_id;
    report.targetBox = Id_TargetBox;
    report.sizeBox = Id_PacketSizeBox;
    report.startButton = Id_StartButton;
    report.resultList = Id_ResultList;
    report.addressBox = Id_AddressBox;
    r.report = std::move(report);
    return r;
}


std::function<void *(uint32_t offset)> RoutineAt(const rt::PreparedImage &image) {
    return [code = image.code, codeSize = image.codeSize](uint32_t offset) -> void * {
        return offset < codeSize ? code + offset : nullptr;
    };
}

void UseReportFrontEnd(rt::ReportOptions options, const rt::PreparedImage &image) {
    options.form = {image.form, image.formSize};
    options.codeSize = image.codeSize;
    options.routineAt = RoutineAt(image);
    auto report = rt::ReportFrontEnd::Create(std::move(options));
    if (!report) {
        std::fprintf(stderr, "%s\n", Describe(report.error()).c_str());
        rt::Runtime::Instance().Exit(rt::kReportNoTrace);
    }
    rt::Runtime::Instance().SetFrontEnd(std::move(*report));
}

} // namespace product
