// The state of the window's controls that the program reads and writes: edit texts, the disabled
// flag, the combo box's items and the list's rows. The window commands and the property services
// change it here, so that any thread may read or change it at once; each front end is told of every
// change and shows it (the Qt and Win32 windows mirror it into widgets, the terminal draws it, the
// console and the report only keep it). Texts are the program's GBK bytes,
// kept exactly: a front end renders them readably, but what the program reads back is what it wrote
// or what the user chose.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "contract/form_layout.h"

namespace rt {

class ControlModel {
  public:
    struct Control {
        uint32_t type = 0; // the unit type; 0 for a unit the form does not have
        int columns = 0;   // list view: cells per row
        std::string text;  // edit box text, combo box edit field
        bool disabled = false;
        std::vector<std::string> items;             // combo box
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
    // Changes a control of that type under the lock, then tells the listener outside it. An edit
    // that answers false changed nothing and is not told; the answer is whether it was made.
    template <typename Edit> bool Update(uint32_t unit, uint32_t type, Change change, Edit &&edit) {
        {
            std::lock_guard lock(mutex_);
            Control *c = Find(unit, type);
            if (!c) return false;
            if constexpr (std::is_same_v<decltype(edit(*c)), bool>) {
                if (!edit(*c)) return false;
            } else {
                edit(*c);
            }
        }
        if (listener_) listener_(unit, change);
        return true;
    }

    bool anyUnit_;
    mutable std::mutex mutex_;
    std::map<uint32_t, Control> controls_;
    std::function<void(uint32_t, Change)> listener_;
};

} // namespace rt
