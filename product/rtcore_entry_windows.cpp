// The core runtime DLL's two entry points on Windows: GetNewSock, which the launcher looks up, and
// the RuntimeEntry it returns, which takes the program image and runs the program. Both use the
// system's convention (stdcall) and are exported under their plain names.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "formats/text/wide.h"
#include "runtime/core/image_loader.h"
#include "runtime/core/runtime.h"
#include "runtime/frontends/win32/win32_frontend.h"
#include "runtime/platform/platform.h"

namespace {

// The program's arguments, from the system's command line: the launcher hands over the image only.
std::vector<std::string> CommandLine() {
    int count = 0;
    wchar_t **words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; words && i < count; ++i) args.push_back(rt::WideToUtf8(words[i]));
    ::LocalFree(words);
    return args;
}

} // namespace

extern "C" __declspec(dllexport) int32_t RT_STDCALL RuntimeEntry(const void *image) {
    rt::Runtime &runtime = rt::Runtime::Instance();
    product::Request request = product::ParseCommandLine(CommandLine());
    if (request.exitNow) runtime.Exit(*request.exitNow);
    rt::MappingInfo where = rt::FindMapping(image);
    auto loaded = rt::PrepareImage(static_cast<const uint8_t *>(image), where.available, rt::platform::FindDllFunction);
    if (!loaded) {
        std::fprintf(stderr, "%s\n", rt::Describe(loaded.error()).c_str());
        runtime.frontEnd().ShowMessage(rt::Utf8ToGbk(rt::Describe(loaded.error())), 0, std::string_view("Error"));
        return 1;
    }
    const rt::PreparedImage &prepared = *loaded;
    if (request.report) {
        product::UseReportFrontEnd(std::move(*request.report), prepared);
    } else {
        auto window = rt::Win32FrontEnd::Create({{prepared.form, prepared.formSize}, prepared.codeSize, product::RoutineAt(prepared)});
        if (!window) {
            std::fprintf(stderr, "%s\n", Describe(window.error()).c_str());
            return 1;
        }
        runtime.SetFrontEnd(std::move(*window));
    }
    prepared.start(); // the start routine ends the program through slot 0x24
    return 0;
}

extern "C" __declspec(dllexport) void *RT_STDCALL GetNewSock(uint32_t version) {
    return version == RtInterfaceVersion ? reinterpret_cast<void *>(&RuntimeEntry) : nullptr;
}
