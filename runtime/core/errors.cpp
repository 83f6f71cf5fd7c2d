// The runtime error service's texts.
#include <cstdio>

#include "runtime.h"
#include "services.h"

namespace rt {

std::string_view DescribeErrorKind(int32_t kind) {
    switch (kind) {
    case RtErrorIndexAboveBound: return "array index above its bound";
    case RtErrorNotConvertible: return "value of a type that cannot be converted";
    case RtErrorIndexBelowOne: return "array index below 1";
    case RtErrorStackMoved: return "a DLL command moved the stack pointer";
    case RtErrorNegativeCount: return "negative count";
    case RtErrorUnknownCommand: return "unknown command";
    case RtErrorBadArgument: return "missing or invalid argument";
    default: return "unknown error";
    }
}

std::string DescribeError(int32_t kind, const ErrorSite &site, std::string_view detail) {
    std::string m = "Runtime error " + std::to_string(kind) + ": " + std::string(DescribeErrorKind(kind));
    if (site.dll) {
        m += " in DLL command " + std::to_string(site.command);
        if (std::string name = service::DllCommandName(site.command); !name.empty()) m += " (" + name + ")";
    } else if (site.command != 0 || site.subroutine == 0) {
        m += site.library == 0 ? " in core command "
                               : " in command of library row " + std::to_string(site.library) + ", ";
        m += Hex(site.command);
    } else {
        m += " in subroutine " + Hex(site.subroutine) + " at position " + std::to_string(site.position);
    }
    if (!detail.empty()) m += " (" + std::string(detail) + ")";
    return m;
}

} // namespace rt
