// The front end for programs without a window: messages and web addresses go to standard error,
// and the controls live in a model (texts, flags, list rows, combo items), so that the program's
// routines run unchanged in tools and tests.
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

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

    int32_t ListAppendRow(uint32_t window, uint32_t unit) override {
        std::lock_guard lock(mutex_);
        auto &rows = lists_[{window, unit}];
        rows.emplace_back();
        return int32_t(rows.size() - 1);
    }
    void ListClear(uint32_t window, uint32_t unit) override {
        std::lock_guard lock(mutex_);
        lists_[{window, unit}].clear();
    }
    bool ListSetCell(uint32_t window, uint32_t unit, int32_t row, int32_t column, std::string_view text) override {
        std::lock_guard lock(mutex_);
        auto &rows = lists_[{window, unit}];
        if (row < 0 || size_t(row) >= rows.size() || column < 0 || column >= kColumns) return false;
        if (rows[size_t(row)].size() <= size_t(column)) rows[size_t(row)].resize(size_t(column) + 1);
        rows[size_t(row)][size_t(column)] = std::string(text);
        return true;
    }
    int32_t ComboCount(uint32_t window, uint32_t unit) override {
        std::lock_guard lock(mutex_);
        return int32_t(combos_[{window, unit}].size());
    }
    std::optional<std::string> ComboItem(uint32_t window, uint32_t unit, int32_t index) override {
        std::lock_guard lock(mutex_);
        auto &items = combos_[{window, unit}];
        if (index < 0 || size_t(index) >= items.size()) return std::nullopt;
        return items[size_t(index)];
    }
    void ComboAppend(uint32_t window, uint32_t unit, std::string_view text) override {
        std::lock_guard lock(mutex_);
        combos_[{window, unit}].emplace_back(text);
    }
    void ComboClear(uint32_t window, uint32_t unit) override {
        std::lock_guard lock(mutex_);
        combos_[{window, unit}].clear();
    }
    void OpenUrl(std::string_view url) override {
        std::fprintf(stderr, "Open %s\n", GbkToUtf8(url).c_str());
    }
    void RequestQuit() override { Runtime::Instance().Exit(0); }

  private:
    static constexpr int32_t kColumns = 64;
    using UnitKey = std::pair<uint32_t, uint32_t>;
    std::mutex mutex_;
    std::map<std::tuple<uint32_t, uint32_t, int32_t>, std::variant<std::string, int64_t>> values_;
    std::map<UnitKey, std::vector<std::vector<std::string>>> lists_;
    std::map<UnitKey, std::vector<std::string>> combos_;
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
