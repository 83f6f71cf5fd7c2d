// The form segment's fixed words, unit types and event numbers: what the window's description, the
// form codec and every front end agree on.
#pragma once

#include <stdint.h>

namespace form_layout {

// The segment's header: this word, the window's identifier, five fixed words, the unit count and the
// byte length of all that follows.
inline constexpr uint32_t kHeaderWord = 8;
inline constexpr uint32_t kFixedWords[5] = {0x0274B960, 0, 0x19010009, 0, 0};
inline constexpr uint32_t kHeaderSize = 4 * 9;

// Every unit body starts with its type and this many zero bytes.
inline constexpr uint32_t kUnitReserved = 20;

// Event numbers of the bindings.
inline constexpr int32_t kEventCreated = 0;       // the window was created
inline constexpr int32_t kEventClicked = 0;       // a button was clicked
inline constexpr int32_t kEventMousePressed = -1; // a mouse button went down on the unit

// A menu item without a handler holds this instead of a code offset.
inline constexpr int32_t kNoHandler = -1;

} // namespace form_layout

// Unit type identifiers (identifiers.def) as numbers, for host code.
namespace unit_type {

enum UnitType : uint32_t {
#define UNIT_ID(name, value)
#define LIBRARY_ROW(name, value)
#define UNIT_TYPE(name, value) k##name = value,
#include "identifiers.def"
#undef UNIT_ID
#undef LIBRARY_ROW
#undef UNIT_TYPE
};

// The system's hand cursor, as a unit's mouse cursor.
inline constexpr uint32_t kHandCursor = 32649;

} // namespace unit_type

// The unit identifiers of identifiers.def as numbers, for host code (the image's code uses the
// symbols, whose sites the image builder records).
namespace unit_id {
#define UNIT_ID(name, value) inline constexpr uint32_t name = value;
#define LIBRARY_ROW(name, value)
#define UNIT_TYPE(name, value)
#include "identifiers.def"
#undef UNIT_ID
#undef LIBRARY_ROW
#undef UNIT_TYPE
} // namespace unit_id
