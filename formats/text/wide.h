// Windows only: the wide-character texts of the system's calls, from and to the program's texts.
#pragma once

#include <string>
#include <string_view>

namespace rt {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
// GBK is code page 936 here; characters it cannot hold become '?'.
std::wstring GbkToWide(std::string_view gbk);
std::string WideToGbk(std::wstring_view wide);

} // namespace rt
