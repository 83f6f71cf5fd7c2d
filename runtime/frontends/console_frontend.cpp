// The front end for programs without a window: messages and web addresses go to standard error, and
// the controls live in the model, so that the program's routines run unchanged in tools and tests.
#include "console_frontend.h"

#include <cstdio>

namespace rt {
namespace {

class ConsoleFrontEnd final : public FrontEnd {
  public:
    ConsoleFrontEnd() : FrontEnd(/*anyUnit=*/true) {}

    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view> title) override {
        std::string titleUtf8 = title ? GbkToUtf8(*title) : std::string();
        std::string line = title ? titleUtf8 + ": " : std::string();
        line += GbkToUtf8(text);
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    void OpenUrl(std::string_view url) override { std::fprintf(stderr, "Open %s\n", GbkToUtf8(url).c_str()); }
    void ShowWindow(uint32_t) override {}
    void RunEvents() override {}
    void RequestQuit() override { Runtime::Instance().Exit(0); }
};

} // namespace

std::unique_ptr<FrontEnd> MakeConsoleFrontEnd() { return std::make_unique<ConsoleFrontEnd>(); }

} // namespace rt
