// The state of the window's controls that the program reads and writes: edit texts, the disabled
// flag, the combo box's items and the list's rows. Every front end keeps it here, so that any thread
// may read or change it at once, and a front end shows it (the Qt window mirrors it into widgets,
// the terminal draws it, the console and the report only keep it). Texts are the program's GBK bytes,
// kept exactly: a front end renders them readably, but what the program reads back is what it wrote
// or what the user chose.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "contract/form_layout.h"
#include "formats/form/form.h"
#include "formats/result.h"
#include "runtime/core/runtime.h"

namespace rt {

class ControlModel {
  public:
    struct Control {
        uint32_t type = 0;                         // the unit type; 0 for a unit the form does not have
        int columns = 0;                           // list view: cells per row
        std::string text;                          // edit box text, combo box edit field
        bool disabled = false;
        std::vector<std::string> items;            // combo box
        std::vector<std::vector<std::string>> rows; // list view
    };

    // Cells per row of a list that the form does not describe.
    static constexpr int kAnyColumns = 64;

    // Which part of a control changed, for a front end that mirrors the model.
    enum class Change { Text, Disabled, Items, Rows };

    // With `anyUnit`, every unit the program names gets a control (for the console); otherwise only
    // those added are there, and the others read as empty.
    explicit ControlModel(bool anyUnit = false) : anyUnit_(anyUnit) {}
    void Add(uint32_t unit, uint32_t type, int columns = 0);

    // Called after every change, outside the lock, on the thread that made it.
    void SetListener(std::function<void(uint32_t unit, Change)> listener) { listener_ = std::move(listener); }

    std::string Text(uint32_t unit) const;
    void SetText(uint32_t unit, std::string text);
    bool Disabled(uint32_t unit) const;
    void SetDisabled(uint32_t unit, bool disabled);

    int32_t ItemCount(uint32_t unit) const;
    std::optional<std::string> Item(uint32_t unit, int32_t index) const;
    void AppendItem(uint32_t unit, std::string text);
    void ClearItems(uint32_t unit); // the edit field keeps its text

    // The new row's index; -1 when the unit is no list.
    int32_t AppendRow(uint32_t unit);
    void ClearRows(uint32_t unit);
    // False for a row or column that does not exist.
    bool SetCell(uint32_t unit, int32_t row, int32_t column, std::string text);
    int32_t RowCount(uint32_t unit) const;
    std::string Cell(uint32_t unit, int32_t row, int32_t column) const;

    // The items from that index on (a front end that shows them appends only what is new).
    std::vector<std::string> ItemsFrom(uint32_t unit, size_t first) const;
    // A copy of one control's state, for drawing.
    Control Snapshot(uint32_t unit) const;

  private:
    Control *Find(uint32_t unit, uint32_t type = 0);
    const Control *Find(uint32_t unit, uint32_t type = 0) const;
    void Notify(uint32_t unit, Change change) {
        if (listener_) listener_(unit, change);
    }

    bool anyUnit_;
    mutable std::mutex mutex_;
    std::map<uint32_t, Control> controls_;
    std::function<void(uint32_t, Change)> listener_;
};

// A front end whose controls live in a ControlModel: the property, list and combo services are the
// model's, the same for every front end.
class ModelFrontEnd : public InteractiveFrontEnd {
  public:
    explicit ModelFrontEnd(bool anyUnit = false) : model_(anyUnit) {}

    uint64_t GetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t index) override;
    void SetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t index, uint64_t value) override;
    int32_t ListAppendRow(uint32_t, uint32_t unit) override { return model_.AppendRow(unit); }
    void ListClear(uint32_t, uint32_t unit) override { model_.ClearRows(unit); }
    bool ListSetCell(uint32_t, uint32_t unit, int32_t row, int32_t column, std::string_view text) override {
        return model_.SetCell(unit, row, column, std::string(text));
    }
    int32_t ComboCount(uint32_t, uint32_t unit) override { return model_.ItemCount(unit); }
    std::optional<std::string> ComboItem(uint32_t, uint32_t unit, int32_t index) override {
        return model_.Item(unit, index);
    }
    void ComboAppend(uint32_t, uint32_t unit, std::string_view text) override { model_.AppendItem(unit, std::string(text)); }
    void ComboClear(uint32_t, uint32_t unit) override { model_.ClearItems(unit); }

    int32_t ListRowCount(uint32_t unit) override { return model_.RowCount(unit); }
    std::string ListCellText(uint32_t unit, int32_t row, int32_t column) override {
        return GbkToUtf8(model_.Cell(unit, row, column));
    }

    ControlModel &model() { return model_; }

  private:
    ControlModel model_;
};

// Why a window front end could not be made.
enum class FrontEndError {
    InvalidForm, // the form segment is malformed (the detail lists its problems)
    NoTerminal,  // the terminal cannot be used
};
struct FrontEndFailure {
    FrontEndError code;
    std::string detail;
};
std::string Describe(const FrontEndFailure &f);
template <typename T> using FrontEndResult = Result<std::unique_ptr<T>, FrontEndFailure>;

// What a window front end is built from: the placed image's form and the routines its events call.
struct WindowFrontEndOptions {
    std::span<const uint8_t> form; // the form segment's data; must outlive the front end
    uint32_t codeSize = 0;         // handlers must lie below it
    // The address of the routine at an offset of the code segment's data.
    std::function<void *(uint32_t offset)> routineAt;
};

// The window's form, decoded and checked (handlers below codeSize).
Result<form::Form, FrontEndFailure> DecodeWindowForm(std::span<const uint8_t> bytes, uint32_t codeSize);

} // namespace rt
