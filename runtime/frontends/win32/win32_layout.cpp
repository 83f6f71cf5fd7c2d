#include <windows.h>

#include <commctrl.h>

#include <algorithm>

#include "formats/form/form.h"
#include "formats/text/wide.h"
#include "runtime/frontends/win32/win32_gdi.h"
#include "runtime/frontends/win32/win32_window.h"

namespace rt::win32ui {
namespace {

constexpr UINT kFirstMenuCommand = 1000;
// The window's frame: fixed where the form fits its monitor, with a sizing border otherwise.
constexpr DWORD kFixedStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kResizableStyle = kFixedStyle | WS_THICKFRAME;
// The lowest and the rightmost control keep this designed margin to the client area's edge.
constexpr int kClientMargin = 7;

} // namespace

// Where a control lies in the window's client area: group boxes hold their children's positions.
POINT Win32Window::Origin(const form::Control &c) const {
    POINT at{c.left, c.top};
    for (uint32_t parent = c.parent; parent;) {
        const form::Control *p = nullptr;
        for (const form::Control &o : form_.controls)
            if (o.id == parent) p = &o;
        if (!p) break;
        at.x += p->left;
        at.y += p->top;
        parent = p->parent;
    }
    return at;
}

void Win32Window::Build() {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = Procedure;
    cls.hInstance = instance;
    cls.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = L"RouteTraceWindow";
    HICON icon = MakeIcon(form_.window.icon);
    cls.hIcon = icon;
    cls.hIconSm = icon;
    ::RegisterClassExW(&cls);

    HMENU bar = ::CreateMenu(), popup = nullptr;
    UINT command = kFirstMenuCommand;
    for (const form::MenuItem &m : form_.menu) {
        std::wstring caption = GbkToWide(m.caption);
        if (m.level == 0) {
            popup = ::CreatePopupMenu();
            ::AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup), caption.c_str());
        } else if (popup && m.caption == "-") {
            ::AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
        } else if (popup) {
            if (m.handler >= 0) menuHandlers_[command] = uint32_t(m.handler);
            ::AppendMenuW(popup, MF_STRING, command++, caption.c_str());
        }
    }

    // Made at the form's rectangle; Place scales it to the DPI of its monitor and fits it there.
    main_ =
        ::CreateWindowExW(0, cls.lpszClassName, GbkToWide(form_.window.caption).c_str(), kFixedStyle, form_.window.left,
                          form_.window.top, form_.window.width, form_.window.height, nullptr, bar, instance, this);
    // Group boxes first, so that the controls inside them are drawn above them.
    for (bool groups : {true, false})
        for (const form::Control &c : form_.controls)
            if ((c.type == form::kGroupBox) == groups) Make(c);
    Place(DpiOf(main_), std::nullopt);
    // What the program set before the window existed.
    for (const form::Control &c : form_.controls)
        for (auto change : {ControlModel::Change::Disabled, ControlModel::Change::Text, ControlModel::Change::Items,
                            ControlModel::Change::Rows})
            Apply(c.id, change);
}

void Win32Window::Make(const form::Control &c) {
    std::wstring caption = GbkToWide(c.caption);
    const wchar_t *cls = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE, exStyle = 0;
    switch (c.type) {
    case form::kGroupBox:
        cls = L"BUTTON";
        style |= BS_GROUPBOX;
        break;
    case form::kLabel: break;
    case form::kCheckBox:
        cls = L"BUTTON";
        style |= BS_AUTOCHECKBOX | WS_TABSTOP;
        break;
    case form::kButton:
        cls = L"BUTTON";
        style |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
    case form::kEditBox:
        cls = L"EDIT";
        style |= ES_AUTOHSCROLL | WS_TABSTOP;
        exStyle = WS_EX_CLIENTEDGE;
        caption.clear();
        break;
    case form::kComboBox:
        cls = L"COMBOBOX";
        style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP;
        caption.clear();
        break;
    case form::kListView:
        cls = WC_LISTVIEWW;
        style |= LVS_REPORT | LVS_SHOWSELALWAYS | WS_TABSTOP;
        exStyle = WS_EX_CLIENTEDGE;
        caption.clear();
        break;
    case form::kPicture:
        style |= SS_ICON | SS_CENTERIMAGE | SS_NOTIFY;
        caption.clear();
        break;
    default: return;
    }
    // Placed and sized by Layout, at the window's DPI.
    HWND w = ::CreateWindowExW(exStyle, cls, caption.c_str(), style, 0, 0, 0, 0, main_, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
    controls_[c.id] = w;
    units_[w] = {c.id, c.type};
    if (c.type == form::kListView) {
        ::SendMessageW(w, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
        for (size_t i = 0; i < c.columns.size(); ++i) {
            std::wstring header = GbkToWide(c.columns[i].caption);
            LVCOLUMNW column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.cx = int(c.columns[i].width);
            column.pszText = header.data();
            ::SendMessageW(w, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
        }
    }
    if (c.type == form::kPicture) {
        picture_ = MakeIcon(c.icon);
        if (c.cursor == form::kHandCursor)
            ::SetClassLongPtrW(w, GCLP_HCURSOR, LONG_PTR(::LoadCursorW(nullptr, IDC_HAND)));
    }
}

void Win32Window::Place(UINT dpi, std::optional<RECT> moved) {
    placing_ = true;
    LayOut(dpi);
    auto scaled = [dpi](int v) { return ScaleToDpi(v, int(dpi)); };
    const form::Control *list = nullptr;
    for (const form::Control &c : form_.controls)
        if (c.type == form::kListView) list = &c;
    request_ = {};
    POINT on{scaled(form_.window.left), scaled(form_.window.top)};
    if (moved) {
        on = {(moved->left + moved->right) / 2, (moved->top + moved->bottom) / 2};
        request_.at = {{int(moved->left), int(moved->top)}};
    }
    request_.workArea = WorkAreaAt(on);
    request_.dpi = int(dpi);
    request_.form = {form_.window.left, form_.window.top, form_.window.width, form_.window.height};
    request_.listHeight = list ? list->height : 0;
    request_.minListHeight = list ? FiveRows(controls_[list->id]) : 0;
    // The window wants the form's scaled rectangle, grown where the system's frame leaves the
    // controls too little room; a frame with a sizing border is thicker, so a window that does not
    // fit is placed again with that frame.
    int right = 0, bottom = 0;
    for (const auto &[unit, r] : laidOut_) {
        right = std::max(right, int(r.right));
        bottom = std::max(bottom, int(r.bottom));
    }
    for (DWORD style : {kFixedStyle, kResizableStyle}) {
        ::SetWindowLongW(main_, GWL_STYLE, LONG(style | (::GetWindowLongW(main_, GWL_STYLE) & WS_VISIBLE)));
        ::SetWindowPos(main_, nullptr, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        RECT outer, client;
        ::GetWindowRect(main_, &outer);
        ::GetClientRect(main_, &client);
        int frameWidth = int(outer.right - outer.left - client.right);
        int frameHeight = int(outer.bottom - outer.top - client.bottom);
        request_.extraWidth = std::max(0, right + scaled(kClientMargin) + frameWidth - scaled(form_.window.width));
        request_.extraHeight = std::max(0, bottom + scaled(kClientMargin) + frameHeight - scaled(form_.window.height));
        placement_ = PlaceWindow(request_);
        if (!placement_.resizable) break;
    }
    const PixelRect &r = placement_.window;
    ::SetWindowPos(main_, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
    FitList(placement_.listHeight);
    placing_ = false;
    ::InvalidateRect(main_, nullptr, TRUE);
}

// Lays the form out at a DPI: the designed geometry, fonts and column widths times DPI/96, so the
// window is drawn sharp at any scale and nothing overlaps.
void Win32Window::LayOut(UINT dpi) {
    auto scaled = [dpi](int v) { return ScaleToDpi(v, int(dpi)); };
    HFONT font = MakeFont(dpi, kFormFontPixels);
    std::vector<HFONT> oldLabelFonts = std::move(labelFonts_);
    labelFonts_.clear();
    ::SendMessageW(main_, WM_SETFONT, WPARAM(font), FALSE);
    for (const form::Control &c : form_.controls) {
        auto it = controls_.find(c.id);
        if (it == controls_.end()) continue;
        HWND w = it->second;
        POINT at = Origin(c);
        RECT r{scaled(at.x), scaled(at.y), 0, 0};
        r.right = r.left + scaled(c.width);
        r.bottom = r.top + scaled(c.height);
        laidOut_[c.id] = r;
        // A drop-down list's height includes its open list.
        int height = int(r.bottom - r.top) + (c.type == form::kComboBox ? scaled(200) : 0);
        ::SetWindowPos(w, nullptr, r.left, r.top, r.right - r.left, height, SWP_NOZORDER | SWP_NOACTIVATE);
        ::SendMessageW(w, WM_SETFONT, WPARAM(font), TRUE);
        if (c.type == form::kListView)
            for (size_t i = 0; i < c.columns.size(); ++i)
                ::SendMessageW(w, LVM_SETCOLUMNWIDTH, i, MAKELPARAM(scaled(int(c.columns[i].width)), 0));
        if (c.type == form::kPicture && picture_) {
            // The emblem drawn whole inside its box.
            HICON fitted = static_cast<HICON>(::CopyImage(picture_, IMAGE_ICON, scaled(c.width), scaled(c.height), 0));
            HICON old = reinterpret_cast<HICON>(::SendMessageW(w, STM_SETICON, WPARAM(fitted ? fitted : picture_), 0));
            if (old && old != picture_) ::DestroyIcon(old);
        }
    }
    FitLabels(dpi, font);
    if (font_) ::DeleteObject(font_);
    for (HFONT old : oldLabelFonts) ::DeleteObject(old);
    font_ = font;
}

// A label whose text is wider than its box at this DPI takes the room to its right, otherwise a
// smaller font (a static control would wrap the text and lose its second line).
void Win32Window::FitLabels(UINT dpi, HFONT font) {
    auto scaled = [dpi](int v) { return ScaleToDpi(v, int(dpi)); };
    for (const form::Control &c : form_.controls) {
        if (c.type != form::kLabel || !controls_.count(c.id)) continue;
        HWND w = controls_[c.id];
        std::wstring text = WindowText(w);
        LabelFit fit = FitLabel(scaled(c.width), scaled(RoomToTheRight(form_, c)), kFormFontPixels, kSmallestFontPixels,
                                [&](int pixels) {
                                    if (pixels == kFormFontPixels) return TextWidth(font, text);
                                    HFONT smaller = MakeFont(dpi, pixels);
                                    int width = TextWidth(smaller, text);
                                    ::DeleteObject(smaller);
                                    return width;
                                });
        if (fit.fontPixels != kFormFontPixels) {
            labelFonts_.push_back(MakeFont(dpi, fit.fontPixels));
            ::SendMessageW(w, WM_SETFONT, WPARAM(labelFonts_.back()), TRUE);
        }
        RECT &r = laidOut_[c.id];
        r.right = r.left + fit.width;
        ::SetWindowPos(w, nullptr, 0, 0, fit.width, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// The list takes the height it is given; what lies below it moves with its lower edge.
void Win32Window::FitList(int height) {
    for (const form::Control &c : form_.controls) {
        if (c.type != form::kListView) continue;
        const RECT list = laidOut_[c.id];
        int shift = height - int(list.bottom - list.top);
        ::SetWindowPos(controls_[c.id], nullptr, 0, 0, list.right - list.left, height,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        for (const form::Control &o : form_.controls)
            if (BelowTheList(form_, o) && controls_.count(o.id))
                ::SetWindowPos(controls_[o.id], nullptr, laidOut_[o.id].left, laidOut_[o.id].top + shift, 0, 0,
                               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// The list's height with its header and five rows of its font (a row is measured on a stand-in
// where the list has none yet).
int Win32Window::FiveRows(HWND list) const {
    bool standIn = ::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 0;
    if (standIn) {
        wchar_t one[] = L"1";
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.pszText = one;
        ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    RECT row{LVIR_BOUNDS, 0, 0, 0};
    ::SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    if (standIn) ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    // The header's height in its font as it lays itself out (its window may still have the old one).
    RECT outer{}, client{}, room{0, 0, 1 << 14, 1 << 14};
    WINDOWPOS header{};
    HDLAYOUT layout{&room, &header};
    ::SendMessageW(reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0)), HDM_LAYOUT, 0,
                   reinterpret_cast<LPARAM>(&layout));
    ::GetWindowRect(list, &outer);
    ::GetClientRect(list, &client);
    int border = int(outer.bottom - outer.top - client.bottom);
    // The first row starts below the header, a little lower where the list draws grid lines.
    return std::max(header.cy, int(row.top)) + 5 * int(row.bottom - row.top) + border;
}

bool Win32Window::Sizing(UINT message, WPARAM wp, LPARAM lp) {
    if (!placement_.resizable) return false;
    if (message == WM_GETMINMAXINFO) {
        // As wide as the form, tall enough for five rows of the list, and as tall as its placement
        // even where that passes the screen (the system would cut it to the screen otherwise).
        auto *limits = reinterpret_cast<MINMAXINFO *>(lp);
        limits->ptMinTrackSize = {placement_.minWidth, placement_.minHeight};
        limits->ptMaxTrackSize.x = placement_.minWidth;
        limits->ptMaxTrackSize.y = std::max(int(limits->ptMaxTrackSize.y), placement_.window.height);
        return true;
    }
    if (message == WM_SIZE && wp != SIZE_MINIMIZED && !placing_) {
        RECT outer;
        ::GetWindowRect(main_, &outer);
        FitList(ListHeightFor(request_, int(outer.bottom - outer.top)));
    }
    return false;
}

} // namespace rt::win32ui
