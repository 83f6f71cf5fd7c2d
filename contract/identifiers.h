// Identifiers as the application code uses them: absolute symbols (see RT_SYMBOL_VALUE in rt.h).
#pragma once

#include "rt.h"

#define UNIT_ID(name, value) extern "C" char name[];
#define LIBRARY_ROW(name, value) extern "C" char name[];
#define UNIT_TYPE(name, value) extern "C" char Type_##name[];
#include "identifiers.def"
#undef UNIT_ID
#undef LIBRARY_ROW
#undef UNIT_TYPE

// A control of the main window by its unit identifier symbol.
#define CONTROL(unit) RT_SYMBOL_VALUE(Id_MainWindow), RT_SYMBOL_VALUE(unit)
// A control passed to a command as a unit triple.
#define UNIT_REF(unit, type) \
    UnitRef { RT_SYMBOL_VALUE(Id_MainWindow), RT_SYMBOL_VALUE(unit), RT_SYMBOL_VALUE(type) }
