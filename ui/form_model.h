// The main window's description as the program's source holds it: units with their identifiers,
// geometry, texts and event bindings. The form encoder (tools/mkform) turns it into the form
// segment's bytes; texts here are UTF-8 and become GBK there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../image/unit_types.h"

namespace form {

// Unit type identifiers: (library row + 1) << 16 | class.
using namespace unit_type;
inline constexpr int32_t kEventCreated = 0;
inline constexpr int32_t kEventClicked = 0;
inline constexpr int32_t kEventMousePressed = -1;

struct Binding {
    int32_t event;
    std::string handler; // the routine's symbol in the image
};

struct Column {
    uint32_t width;
    std::string caption;
};

struct Unit {
    uint32_t id = 0;
    uint32_t type = 0;
    std::string name;
    int32_t left = 0, top = 0, width = 0, height = 0;
    uint32_t parent = 0;               // 0: the window; otherwise the containing group box
    std::vector<uint32_t> children;    // for group boxes
    uint32_t cursor = 0;               // 0 default, kHandCursor for the hand
    std::vector<Binding> events;
    std::string caption;               // window, labels, buttons, check box, group boxes
    std::string iconFile;              // window (32 x 32) and picture (128 x 128): an ICO file
    std::vector<Column> columns;       // list view
    uint32_t inputSetting = 0;         // edit boxes: 0 any text; 7 as the setting boxes carry it
};

struct MenuItem {
    uint32_t id;
    uint32_t level;        // 0 menu bar entry, 1 item under the entry before it
    std::string caption;   // "-" makes a separator
    std::string handler;   // empty: none
};

struct Form {
    uint32_t windowId;
    std::vector<Unit> units; // the window unit first, then the controls, in stored order
    std::vector<MenuItem> menu;
};

// The main window. The icon paths are those of the emblem files the build draws.
Form MainWindow(const std::string &smallIcon, const std::string &largeIcon);

} // namespace form
