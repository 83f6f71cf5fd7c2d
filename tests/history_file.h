// The target history's file, named through the program's own constants.
#pragma once

#include <string>
#include <string_view>

#include "app/constants.h"

namespace rt::testing {

// The history file's bytes as the program writes them: its section (GBK) with the one key whose
// value holds the targets.
inline std::string HistoryFile(std::string_view targets) {
    return std::string("[") + K_HistorySection + "]\r\n" + K_HistoryKey + "=" + std::string(targets) + "\r\n";
}

} // namespace rt::testing
