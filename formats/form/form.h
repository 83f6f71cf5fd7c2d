// The form segment: the window and its controls, their geometry, texts, icons, event bindings and the
// menu. One model and one codec serve the form maker (which encodes the window's description), the
// runtime (which decodes the segment of the image) and the tests. Texts are GBK, as stored.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "contract/form_layout.h"
#include "formats/result.h"

namespace form {

using namespace unit_type;
using namespace form_layout;

// An event binding: the routine's offset in the code segment's data. In a description the routine is
// named by its symbol instead, and the image builder fills in the offset.
struct Event {
    int32_t number = 0;
    uint32_t handler = 0;
    std::string symbol;
    bool operator==(const Event &) const = default;
};

struct Column {
    uint32_t width = 0;
    std::string caption;
    bool operator==(const Column &) const = default;
};

struct Control {
    uint32_t id = 0;
    uint32_t type = 0;
    std::string name;
    int32_t left = 0, top = 0, width = 0, height = 0;
    uint32_t parent = 0;            // 0: the window; otherwise the containing group box
    std::vector<uint32_t> children; // group boxes: the units inside
    uint32_t cursor = 0;            // 0 the default, kHandCursor the hand
    std::vector<Event> events;
    std::string caption;         // window, labels, buttons, check box, group boxes
    std::vector<uint8_t> icon;   // window (32 x 32) and picture (128 x 128): an ICO file
    std::vector<Column> columns; // list view
    uint32_t inputSetting = 0;   // edit boxes
    bool operator==(const Control &) const = default;
};

struct MenuItem {
    uint32_t id = 0;
    uint32_t level = 0;  // 0 a menu bar entry, 1 an item under the entry before it
    std::string caption; // "-" is a separator
    int32_t handler = kNoHandler;
    std::string symbol; // in a description: the handler routine's symbol
    bool operator==(const MenuItem &) const = default;
};

struct Form {
    uint32_t windowId = 0;
    Control window;                // the window unit, stored first
    std::vector<Control> controls; // in stored order
    std::vector<MenuItem> menu;    // stored after the controls

    const Control *Find(uint32_t id) const;
    // The handler bound to a unit's event, if any.
    std::optional<uint32_t> Handler(uint32_t id, int32_t event) const;
    bool operator==(const Form &) const = default;
};

// ---- Encoding ----

struct HandlerSite {
    uint32_t offset;    // in the segment's bytes
    std::string symbol; // the routine whose code offset goes there
};
struct Encoded {
    std::vector<uint8_t> bytes;
    std::vector<HandlerSite> handlerSites; // one per binding named by its symbol
};
Encoded EncodeForm(const Form &form);

// ---- Decoding ----

enum class Problem {
    ShortHeader,       // shorter than its header
    HeaderWord,        // the first word is not the form segment's
    TooManyUnits,      // more units than a form may have
    ShortLength,       // shorter than the length its header states
    TablesOutside,     // the unit tables run past the segment
    UnitTwice,         // a unit identifier appears twice
    UnitOutside,       // a unit's body lies outside the segment
    UnitCut,           // a unit's body ends before its fields
    MenuLevel,         // a menu level other than 0 and 1
    MenuItemFirst,     // a menu item before any menu
    HandlerOutside,    // a handler outside the code
    TooManyChildren,   // more children than a group box may have
    TooManyEvents,     // more bindings than a unit may have
    ColumnsOutside,    // the list's columns run past the unit
    ColumnCut,         // a column entry is cut short
    UnknownType,       // a unit type no form has
    BadSize,           // a negative or huge width or height
    SecondWindow,      // a second window unit
    NoWindow,          // no window unit
    ParentNotGroupBox, // a unit's parent is not a group box
    ChildNotOwned,     // a group box lists a child whose parent is another
};
std::string_view Describe(Problem p);
using Finding = rt::Finding<Problem>;

struct Decoded {
    std::optional<Form> form; // only when there is no finding
    std::vector<Finding> problems;
};
// Decodes and checks the segment, never half-built. Handlers must lie below codeSize (0: unchecked).
Decoded DecodeForm(std::span<const uint8_t> bytes, uint32_t codeSize = 0);

// ---- Icons ----

// A decoded icon: width x height pixels, ARGB, top row first.
struct Icon {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> argb;
};
// The first image of an ICO file holding 32-bit pixels; nothing for anything else.
std::optional<Icon> DecodeIco(std::span<const uint8_t> bytes);

} // namespace form
