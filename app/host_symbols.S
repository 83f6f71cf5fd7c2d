// The direct host's values of the identifier symbols that the image builder fills in for the image.
#include "contract/asm.h"

#define UNIT_ID(name, value) .globl RT_C_NAME(name); .set RT_C_NAME(name), value;
#define LIBRARY_ROW(name, value) .globl RT_C_NAME(name); .set RT_C_NAME(name), value;
#define UNIT_TYPE(name, value) .globl RT_C_NAME(Type_##name); .set RT_C_NAME(Type_##name), value;
#define DLL_COMMAND(index, dll, function, thunk, argumentBytes) .globl RT_C_NAME(DllIdx_##thunk); .set RT_C_NAME(DllIdx_##thunk), index;
#include "contract/identifiers.def"
#include "contract/dll_commands.def"

    RT_END_OF_FILE
