#include "control_model.h"

namespace rt {

void ControlModel::Add(uint32_t unit, uint32_t type, int columns) {
    std::lock_guard lock(mutex_);
    Control &c = controls_[unit];
    c.type = type;
    c.columns = columns;
}

ControlModel::Control *ControlModel::Find(uint32_t unit, uint32_t type) {
    auto it = controls_.find(unit);
    if (it == controls_.end()) {
        if (!anyUnit_) return nullptr;
        it = controls_.emplace(unit, Control{type, kAnyColumns, {}, false, {}, {}}).first;
    }
    Control &c = it->second;
    return !type || !c.type || c.type == type ? &c : nullptr;
}

const ControlModel::Control *ControlModel::Find(uint32_t unit, uint32_t type) const {
    auto it = controls_.find(unit);
    if (it == controls_.end()) return nullptr;
    const Control &c = it->second;
    return !type || !c.type || c.type == type ? &c : nullptr;
}

std::string ControlModel::Text(uint32_t unit) const {
    std::lock_guard lock(mutex_);
    const Control *c = Find(unit);
    return c ? c->text : std::string();
}

void ControlModel::SetText(uint32_t unit, std::string text) {
    Update(unit, 0, Change::Text, [&](Control &c) { c.text = std::move(text); });
}

bool ControlModel::Disabled(uint32_t unit) const {
    std::lock_guard lock(mutex_);
    const Control *c = Find(unit);
    return c && c->disabled;
}

void ControlModel::SetDisabled(uint32_t unit, bool disabled) {
    Update(unit, 0, Change::Disabled, [&](Control &c) { c.disabled = disabled; });
}

int32_t ControlModel::ItemCount(uint32_t unit) const {
    std::lock_guard lock(mutex_);
    const Control *c = Find(unit, unit_type::kComboBox);
    return c ? int32_t(c->items.size()) : 0;
}

std::optional<std::string> ControlModel::Item(uint32_t unit, int32_t index) const {
    std::lock_guard lock(mutex_);
    const Control *c = Find(unit, unit_type::kComboBox);
    if (!c || index < 0 || size_t(index) >= c->items.size()) return std::nullopt;
    return c->items[size_t(index)];
}

void ControlModel::AppendItem(uint32_t unit, std::string text) {
    Update(unit, unit_type::kComboBox, Change::Items, [&](Control &c) { c.items.push_back(std::move(text)); });
}

void ControlModel::ClearItems(uint32_t unit) {
    Update(unit, unit_type::kComboBox, Change::Items, [](Control &c) { c.items.clear(); });
}

int32_t ControlModel::AppendRow(uint32_t unit) {
    int32_t row = -1;
    Update(unit, unit_type::kListView, Change::Rows, [&](Control &c) {
        c.rows.emplace_back(size_t(c.columns));
        row = int32_t(c.rows.size() - 1);
    });
    return row;
}

void ControlModel::ClearRows(uint32_t unit) {
    Update(unit, unit_type::kListView, Change::Rows, [](Control &c) { c.rows.clear(); });
}

bool ControlModel::SetCell(uint32_t unit, int32_t row, int32_t column, std::string text) {
    return Update(unit, unit_type::kListView, Change::Rows, [&](Control &c) {
        if (row < 0 || size_t(row) >= c.rows.size() || column < 0 || column >= c.columns) return false;
        c.rows[size_t(row)][size_t(column)] = std::move(text);
        return true;
    });
}

int32_t ControlModel::RowCount(uint32_t unit) const {
    std::lock_guard lock(mutex_);
    const Control *c = Find(unit, unit_type::kListView);
    return c ? int32_t(c->rows.size()) : 0;
}

std::string ControlModel::Cell(uint32_t unit, int32_t row, int32_t column) const {
    std::lock_guard lock(mutex_);
    const Control *c = Find(unit, unit_type::kListView);
    if (!c || row < 0 || size_t(row) >= c->rows.size() || column < 0 || column >= c->columns) return {};
    return c->rows[size_t(row)][size_t(column)];
}

std::vector<std::string> ControlModel::ItemsFrom(uint32_t unit, size_t first) const {
    std::lock_guard lock(mutex_);
    const Control *c = Find(unit, unit_type::kComboBox);
    if (!c || first >= c->items.size()) return {};
    return {c->items.begin() + std::ptrdiff_t(first), c->items.end()};
}

ControlModel::Control ControlModel::Snapshot(uint32_t unit) const {
    std::lock_guard lock(mutex_);
    const Control *c = Find(unit);
    return c ? *c : Control{};
}

} // namespace rt
