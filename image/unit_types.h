// Unit type identifiers of the form segment: (library row + 1) << 16 | class number. Shared by the
// window's description (ui/) and the runtime's form decoder.
#pragma once

#include <stdint.h>

namespace unit_type {

enum UnitType : uint32_t {
    kWindow = 0x00010001,
    kMenuItem = 0x00010003,
    kEditBox = 0x00010005,
    kPicture = 0x00010006,
    kGroupBox = 0x00010009,
    kLabel = 0x0001000A,
    kButton = 0x0001000B,
    kCheckBox = 0x0001000C,
    kComboBox = 0x0001000E,
    kListView = 0x00020004,
};

// The system's hand cursor, as a unit's mouse cursor.
inline constexpr uint32_t kHandCursor = 32649;

} // namespace unit_type
