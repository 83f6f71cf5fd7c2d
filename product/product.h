// The product's own texts that the generic runtime does not hold.
#pragma once

namespace product {

// What the program calls itself, and its folders' name in the user's and the system's folders
// (~/.config/routetrace, /usr/share/routetrace, %APPDATA%\routetrace): the runtime's generic layers
// are given it.
inline constexpr const char *kName = "routetrace";

// The version, as the build states it (CMakeLists.txt).
inline constexpr const char *kVersion = RT_VERSION;

// The place database's file name, as the program opens it.
inline constexpr const char *kPlaceDatabase = "QQWry.dat";

// What stands for the maker's emblem in a terminal, which cannot show the picture.
inline constexpr const char *kPictureLabel = "(Toviq)";

} // namespace product
