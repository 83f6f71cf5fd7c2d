#include "runtime_entry.h"

#include <cstdio>
#include <span>

#include "command_line.h"
#include "contract/form_layout.h"
#include "main_window_form.h"
#include "product.h"
#include "runtime/core/image_loader.h"
#include "runtime/core/trace_records.h"
#include "runtime/frontends/console_frontend.h"
#include "runtime/frontends/report/report_frontend.h"
#include "runtime/platform/platform.h"

namespace product {

namespace {

// Ends a start that cannot go on: says why, then ends the program with the failure's code, or
// returns to the launcher.
int32_t Refuse(const StartFailure &failure) {
    Tell(failure.message);
    if (failure.exitCode) rt::Runtime::Instance().Exit(*failure.exitCode);
    return 1;
}

} // namespace

rt::Result<std::shared_ptr<rt::RoundsObserver>, StartFailure> EntryPlatform::LiveView(const rt::ReportOptions &) {
    return StartFailure{"routetrace: --watch is not available here.\n" + std::string(kWatchHint), rt::kReportNoTrace};
}

void Tell(const std::string &utf8) {
    std::fprintf(stderr, "%s\n", utf8.c_str());
    std::fflush(stderr);
}

int32_t RunEntry(const void *image, EntryPlatform &platform) {
    rt::Runtime &runtime = rt::Runtime::Instance();
    // Until a window exists, the program's messages go to standard error.
    runtime.SetFrontEnd(rt::MakeConsoleFrontEnd());
    runtime.SetProduct({kName, kName});
    // Where the program keeps its traces, so that the runtime records them for any front end.
    rt::Traces().SetLayout({unit_id::Id_ResultList, kAddressColumn, kPlaceColumn, kTimeColumn, kPlaceDatabase});
    Request request = ParseCommandLine(platform.CommandLine());
    if (request.exitNow) runtime.Exit(*request.exitNow);
    // A script takes no start that failed for a finished trace.
    std::optional<int32_t> cannotStart;
    if (request.report) cannotStart = rt::kReportNoTrace;

    rt::MappingInfo where = rt::FindMapping(image);
    auto loaded = rt::PrepareImage(static_cast<const uint8_t *>(image), where.available, rt::platform::FindDllFunction);
    if (!loaded) return Refuse({rt::Describe(loaded.error()), cannotStart});
    const rt::PreparedImage &prepared = *loaded;
    rt::FrontEndOptions options;
    options.form = std::span<const uint8_t>(prepared.form, prepared.formSize);
    options.codeSize = prepared.codeSize;
    options.routineAt = [code = prepared.code, codeSize = prepared.codeSize](uint32_t offset) -> void * {
        return offset < codeSize ? code + offset : nullptr;
    };
    options.programName = kName;
    options.pictureLabel = kPictureLabel;

    if (request.report) {
        // The report is built from the same form and routines as a window, with what the request adds.
        static_cast<rt::FrontEndOptions &>(*request.report) = std::move(options);
        // The live view takes over the terminal last, so that nothing above ends the program under it.
        std::shared_ptr<rt::RoundsObserver> view;
        if (request.watch) {
            auto live = platform.LiveView(*request.report);
            if (!live) return Refuse(live.error());
            view = request.report->observer = *live;
        }
        auto report = rt::ReportFrontEnd::Create(std::move(*request.report));
        if (!report && view) view->Finish(); // the terminal is given back before the message
        if (!report) return Refuse({Describe(report.error()), cannotStart});
        runtime.SetFrontEnd(std::move(*report));
    } else {
        auto window = platform.Window(std::move(options));
        if (!window) return Refuse(window.error());
        runtime.SetFrontEnd(std::move(*window));
    }
    prepared.start(); // the start routine ends the program through slot 0x24
    return 0;
}

} // namespace product
