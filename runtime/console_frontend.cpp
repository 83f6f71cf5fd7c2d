// The front end for programs without a window: messages go to standard error, and control
// properties live in a table, so that the application's routines run unchanged in tools and tests.
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <variant>

#include "runtime.h"

namespace rt {
namespace {

bool IsTextProperty(int32_t property) { return property == RtPropertyEditText || property == RtPropertyComboText; }

class ConsoleFrontEnd final : public FrontEnd {
  public:
    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view> title) override {
        std::string line = title ? GbkToUtf8(*title) + ": " : std::string();
        line += GbkToUtf8(text);
        std::fprintf(stderr, "%s\n", line.c_str());
    }

    uint64_t GetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t) override {
        std::lock_guard lock(mutex_);
        auto it = values_.find({window, unit, property});
        if (IsTextProperty(property)) {
            const std::string *s = it == values_.end() ? nullptr : std::get_if<std::string>(&it->second);
            return ResultOfText(s ? std::string_view(*s) : std::string_view()).value;
        }
        if (it == values_.end()) return 0;
        const int64_t *v = std::get_if<int64_t>(&it->second);
        return v ? uint64_t(*v) : 0;
    }

    void SetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t, uint64_t value) override {
        std::lock_guard lock(mutex_);
        if (IsTextProperty(property)) {
            const char *text = reinterpret_cast<const char *>(static_cast<uintptr_t>(value));
            values_[{window, unit, property}] = std::string(text ? text : "");
        } else {
            values_[{window, unit, property}] = int64_t(value);
        }
    }

    void ShowWindow(uint32_t) override {}
    void RunEvents() override {}

  private:
    std::mutex mutex_;
    std::map<std::tuple<uint32_t, uint32_t, int32_t>, std::variant<std::string, int64_t>> values_;
};

// 0x300: message box (text, style, title or omitted, fourth argument omitted).
RtResult MessageBox(Args &a) {
    std::optional<std::string_view> title;
    if (!a.omitted(2)) title = a.text(2);
    a.runtime().frontEnd().ShowMessage(a.text(0), int32_t(a.integer(1)), title);
    return ResultOfInt(1);
}

// 0x350: let pending window events be processed.
RtResult ProcessEvents(Args &a) {
    a.runtime().frontEnd().ProcessEvents();
    return ResultOfNothing();
}

} // namespace

std::unique_ptr<FrontEnd> MakeConsoleFrontEnd() { return std::make_unique<ConsoleFrontEnd>(); }

void AddMessageCommands(CommandTable &table) {
    table.add(0x300, MessageBox);
    table.add(0x350, ProcessEvents);
}

} // namespace rt
