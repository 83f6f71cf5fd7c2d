// The core runtime DLL's two entry points on Windows: GetNewSock, which the launcher looks up, and
// the RuntimeEntry it returns, which runs the program in the image (runtime_entry.cpp), with the
// system's own steps: the command line and the native window. Both use the system's convention
// (stdcall) and are exported under their plain names.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "formats/text/wide.h"
#include "runtime/frontends/win32/win32_frontend.h"
#include "runtime_entry.h"

namespace {

class WindowsEntry final : public product::EntryPlatform {
  public:
    // The program's arguments, from the system's command line.
    std::vector<std::string> CommandLine() const override {
        int count = 0;
        wchar_t **words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
        std::vector<std::string> args;
        for (int i = 1; words && i < count; ++i) args.push_back(rt::WideToUtf8(words[i]));
        ::LocalFree(words);
        return args;
    }

    // The window with the system's own controls.
    rt::Result<std::unique_ptr<rt::FrontEnd>, product::StartFailure> Window(rt::FrontEndOptions options) override {
        auto window = rt::Win32FrontEnd::Create(std::move(options));
        if (!window) return product::StartFailure{Describe(window.error()), std::nullopt};
        return std::unique_ptr<rt::FrontEnd>(std::move(*window));
    }
};

} // namespace

extern "C" __declspec(dllexport) int32_t RT_STDCALL RuntimeEntry(const void *image) {
    WindowsEntry platform;
    return product::RunEntry(image, platform);
}

extern "C" __declspec(dllexport) void *RT_STDCALL GetNewSock(uint32_t version) {
    return version == RtInterfaceVersion ? reinterpret_cast<void *>(&RuntimeEntry) : nullptr;
}
