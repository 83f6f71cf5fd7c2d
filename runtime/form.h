// The form segment, decoded: the window and its controls, their geometry, texts, icons, event
// bindings and the menu. Read through a bounded reader; a malformed segment is refused with the
// problems it has, never half-built.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "../image/unit_types.h"

namespace rt::form {

using namespace unit_type;

struct Event {
    int32_t number;
    uint32_t handler; // offset of the routine in the code segment's data
};

struct Column {
    uint32_t width;
    std::string caption; // GBK
};

struct Control {
    uint32_t id = 0;
    uint32_t type = 0;
    std::string name;    // GBK
    int32_t left = 0, top = 0, width = 0, height = 0;
    uint32_t parent = 0; // 0: the window
    std::vector<uint32_t> children;
    uint32_t cursor = 0;
    std::vector<Event> events;
    std::string caption;            // GBK
    std::vector<uint8_t> icon;      // an ICO file (window and picture)
    std::vector<Column> columns;    // list view
    uint32_t inputSetting = 0;      // edit boxes
};

struct MenuItem {
    uint32_t id = 0;
    uint32_t level = 0;
    std::string caption; // GBK; "-" is a separator
    int32_t handler = -1;
};

struct Form {
    uint32_t windowId = 0;
    Control window;                 // the window unit
    std::vector<Control> controls;  // in stored order
    std::vector<MenuItem> menu;

    const Control *Find(uint32_t id) const;
    // The handler bound to a unit's event, if any.
    std::optional<uint32_t> Handler(uint32_t id, int32_t event) const;
};

struct DecodeResult {
    std::optional<Form> form;
    std::vector<std::string> problems;
};

// Decodes and checks the segment. Handlers must lie below codeSize (0: not checked).
DecodeResult DecodeForm(std::span<const uint8_t> bytes, uint32_t codeSize = 0);

// The window's description for a front end: decoded, or nothing with `error` listing its problems.
std::optional<Form> DecodeWindowForm(std::span<const uint8_t> bytes, uint32_t codeSize, std::string &error);

// A decoded icon: width x height pixels, ARGB, top row first.
struct Icon {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> argb;
};
// The first image of an ICO file holding 32-bit pixels; nothing for anything else.
std::optional<Icon> DecodeIco(std::span<const uint8_t> bytes);

} // namespace rt::form
