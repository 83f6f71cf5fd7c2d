// The product's own texts that the generic runtime does not hold.
#pragma once

namespace product {

// The version, as the build states it (CMakeLists.txt).
inline constexpr const char *kVersion = RT_VERSION;

// What stands for the maker's emblem in a terminal, which cannot show the picture.
inline constexpr const char *kPictureLabel = "(Toviq)";

} // namespace product
