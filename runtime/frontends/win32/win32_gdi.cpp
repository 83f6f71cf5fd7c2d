#include "win32_gdi.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "formats/form/form.h"

namespace rt::win32ui {

HICON MakeIcon(const std::vector<uint8_t> &ico) {
    auto icon = form::DecodeIco(ico);
    if (!icon) return nullptr;
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof header;
    header.bV5Width = LONG(icon->width);
    header.bV5Height = -LONG(icon->height); // top row first
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void *bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    HBITMAP color =
        ::CreateDIBSection(screen, reinterpret_cast<BITMAPINFO *>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    ::ReleaseDC(nullptr, screen);
    if (!color) return nullptr;
    std::memcpy(bits, icon->argb.data(), icon->argb.size() * 4);
    HBITMAP mask = ::CreateBitmap(int(icon->width), int(icon->height), 1, 1, nullptr);
    ICONINFO info{TRUE, 0, 0, mask, color};
    HICON result = ::CreateIconIndirect(&info);
    ::DeleteObject(mask);
    ::DeleteObject(color);
    return result;
}

namespace {

int CALLBACK NoteFound(const LOGFONTW *, const TEXTMETRICW *, DWORD, LPARAM found) {
    *reinterpret_cast<bool *>(found) = true;
    return 0;
}

} // namespace

HFONT MakeFont(UINT dpi, int pixels) {
    HDC screen = ::GetDC(nullptr);
    const wchar_t *chosen = nullptr;
    for (const wchar_t *face : {L"Microsoft YaHei", L"SimSun", L"WenQuanYi Micro Hei"}) {
        LOGFONTW wanted{};
        wanted.lfCharSet = DEFAULT_CHARSET;
        wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
        bool found = false;
        ::EnumFontFamiliesExW(screen, &wanted, NoteFound, reinterpret_cast<LPARAM>(&found), 0);
        if (found) {
            chosen = face;
            break;
        }
    }
    ::ReleaseDC(nullptr, screen);
    LOGFONTW stock{};
    if (!chosen) {
        // The system's interface font, at this DPI rather than the system's, in proportion to the
        // size asked for.
        ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof stock, &stock);
        int base = stock.lfHeight ? std::abs(int(stock.lfHeight)) : 12;
        stock.lfHeight = -::MulDiv(::MulDiv(base, pixels, 12), int(dpi), 96);
        return ::CreateFontIndirectW(&stock);
    }
    return ::CreateFontW(-::MulDiv(pixels, int(dpi), 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, chosen);
}

UINT DpiOf(HWND w) {
    using PerWindow = UINT(WINAPI *)(HWND);
    static const auto perWindow = reinterpret_cast<PerWindow>(
        reinterpret_cast<void *>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (perWindow && w)
        if (UINT dpi = perWindow(w)) return dpi;
    HDC screen = ::GetDC(nullptr);
    int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? UINT(dpi) : 96;
}

PixelRect WorkAreaAt(POINT at) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!::GetMonitorInfoW(::MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &info)) {
        RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        info.rcWork = area;
    }
    const RECT &r = info.rcWork;
    return {int(r.left), int(r.top), int(r.right - r.left), int(r.bottom - r.top)};
}

int TextWidth(HFONT font, const std::wstring &text) {
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    return int(size.cx);
}

std::wstring WindowText(HWND w) {
    std::wstring text(size_t(::GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(size_t(::GetWindowTextW(w, text.data(), int(text.size()))));
    return text;
}

} // namespace rt::win32ui
