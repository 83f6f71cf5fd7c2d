// GBK conversions through the system's code page 936, and the wide texts of the Windows calls.
#include <windows.h>

#include "text.h"
#include "wide.h"

namespace rt {
namespace {

constexpr UINT kGbk = 936;

std::wstring ToWide(UINT codePage, std::string_view in, DWORD flags = 0) {
    if (in.empty()) return {};
    int n = ::MultiByteToWideChar(codePage, flags, in.data(), int(in.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(size_t(n), L'\0');
    ::MultiByteToWideChar(codePage, flags, in.data(), int(in.size()), out.data(), n);
    return out;
}

// With `exact`, nothing when a character has no form in the code page; otherwise it shows as '?'.
std::optional<std::string> FromWide(UINT codePage, std::wstring_view in, bool exact = false) {
    if (in.empty()) return std::string();
    // Code page 936 takes a default character and reports its use; UTF-8 takes neither.
    bool utf8 = codePage == CP_UTF8;
    BOOL usedDefault = FALSE;
    DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int n = ::WideCharToMultiByte(codePage, flags, in.data(), int(in.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return exact ? std::nullopt : std::optional<std::string>(std::string());
    std::string out(size_t(n), '\0');
    ::WideCharToMultiByte(codePage, flags, in.data(), int(in.size()), out.data(), n, utf8 ? nullptr : "?",
                          utf8 ? nullptr : &usedDefault);
    if (exact && usedDefault) return std::nullopt;
    return out;
}

// Bytes that did not convert come back as U+FFFD; the program shows them as '?'.
std::wstring Questioned(std::wstring wide) {
    for (wchar_t &c : wide)
        if (c == 0xFFFD) c = L'?';
    return wide;
}

} // namespace

std::wstring Utf8ToWide(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }
std::string WideToUtf8(std::wstring_view wide) { return *FromWide(CP_UTF8, wide); }
std::wstring GbkToWide(std::string_view gbk) {
    // A byte of 0x80 or 0xFF starts no GBK character, though the system's table gives them private
    // meanings; they show as '?', as every byte that does not convert does.
    std::string checked(gbk);
    ForEachGbkChar(gbk, [&](size_t i, size_t n) {
        if (n == 1 && static_cast<unsigned char>(gbk[i]) >= 0x80) checked[i] = '?';
    });
    return Questioned(ToWide(kGbk, checked));
}
std::string WideToGbk(std::wstring_view wide) { return *FromWide(kGbk, wide); }

std::string GbkToUtf8(std::string_view gbk) { return WideToUtf8(GbkToWide(gbk)); }
std::string Utf8ToGbk(std::string_view utf8) { return WideToGbk(Questioned(Utf8ToWide(utf8))); }

std::optional<std::string> Utf8ToGbkExact(std::string_view utf8) {
    std::wstring wide = ToWide(CP_UTF8, utf8, MB_ERR_INVALID_CHARS);
    if (wide.empty() && !utf8.empty()) return std::nullopt; // not UTF-8
    return FromWide(kGbk, wide, true);
}

} // namespace rt
