#include "win32_frontend.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <algorithm>
#include <map>
#include <thread>

#include "formats/form/form.h"
#include "formats/text/wide.h"

namespace rt {
namespace {

constexpr UINT kMirror = WM_APP + 1; // wParam: unit, lParam: the change; posted by other threads
constexpr UINT kOnGui = WM_APP + 2;  // lParam: a std::function<void()> to run; sent by other threads
constexpr UINT kFirstMenuCommand = 1000;

// An icon from the form's ICO bytes: 32-bit pixels with their alpha.
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

int CALLBACK NoteFound(const LOGFONTW *, const TEXTMETRICW *, DWORD, LPARAM found) {
    *reinterpret_cast<bool *>(found) = true;
    return 0;
}

// The interface font: 12 pixels at 96 DPI (scaled to the window's DPI), from a face that holds
// Chinese where one is installed.
HFONT MakeFont(UINT dpi) {
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
        // The system's interface font, at this DPI rather than the system's.
        ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof stock, &stock);
        stock.lfHeight = -::MulDiv(std::abs(stock.lfHeight ? int(stock.lfHeight) : 12), int(dpi), 96);
        return ::CreateFontIndirectW(&stock);
    }
    return ::CreateFontW(-::MulDiv(12, int(dpi), 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, chosen);
}

// The DPI a window is drawn at: its monitor's where the system says it per window (Windows 10 1607
// on), otherwise the system's own (Windows 7 and 8 scale every monitor alike).
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

std::wstring WindowText(HWND w) {
    std::wstring text(size_t(::GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(size_t(::GetWindowTextW(w, text.data(), int(text.size()))));
    return text;
}

class Win32Window final : public Win32FrontEnd {
  public:
    Win32Window(FrontEndOptions options, form::Form form)
        : Win32FrontEnd(std::move(form), std::move(options.routineAt)), programName_(Utf8ToWide(options.programName)) {
        gui_ = std::this_thread::get_id();
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&classes);
    }
    ~Win32Window() override {
        if (main_) ::DestroyWindow(main_);
    }

    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view> title) override {
        std::wstring t = GbkToWide(text);
        std::wstring caption = title ? GbkToWide(*title) : main_ ? WindowText(main_) : programName_;
        OnGui([&] {
            if (presenter_) return presenter_(WideToUtf8(t), WideToUtf8(caption));
            ::MessageBoxW(main_, t.c_str(), caption.c_str(), MB_OK);
        });
    }

    void Pump() override {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) Dispatch(msg);
    }
    void ProcessEvents() override {
        if (std::this_thread::get_id() == gui_) Pump(); // the trace thread has no events to run
    }

    void ShowWindow(uint32_t window) override {
        OnGui([&] {
            if (window != form_.windowId || main_) return;
            Build();
            // The window's created event: the history is loaded before the user sees the window.
            Call(form_.Handler(form_.window.id, form::kEventCreated));
            ::ShowWindow(main_, SW_SHOW);
            ::UpdateWindow(main_);
        });
    }

    void RunEvents() override {
        MSG msg;
        while (main_ && ::GetMessageW(&msg, nullptr, 0, 0) > 0) Dispatch(msg);
    }
    void RequestQuit() override {
        if (main_) ::PostMessageW(main_, WM_CLOSE, 0, 0);
    }

    // What the list view itself shows, once the changes other threads posted have been applied.
    int32_t ListRowCount(uint32_t unit) override {
        HWND w = NativeList(unit);
        return w ? int32_t(::SendMessageW(w, LVM_GETITEMCOUNT, 0, 0)) : InteractiveFrontEnd::ListRowCount(unit);
    }
    std::string ListCellText(uint32_t unit, int32_t row, int32_t column) override {
        HWND w = NativeList(unit);
        if (!w) return InteractiveFrontEnd::ListCellText(unit, row, column);
        wchar_t text[512] = {};
        LVITEMW cell{};
        cell.iSubItem = column;
        cell.pszText = text;
        cell.cchTextMax = 512;
        ::SendMessageW(w, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&cell));
        return WideToUtf8(text);
    }

    void OpenUrl(std::string_view url) override {
        std::string u = GbkToUtf8(url);
        OnGui([&] {
            if (opener_) return opener_(u);
            ::ShellExecuteW(main_, L"open", Utf8ToWide(u).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        });
    }

  private:
    HWND NativeList(uint32_t unit) {
        if (std::this_thread::get_id() != gui_ || !main_) return nullptr;
        MSG msg;
        while (::PeekMessageW(&msg, main_, kMirror, kMirror, PM_REMOVE)) Dispatch(msg);
        auto it = controls_.find(unit);
        return it == controls_.end() ? nullptr : it->second;
    }

    void Dispatch(MSG &msg) {
        if (main_ && ::IsDialogMessageW(main_, &msg)) return; // Tab moves between the controls
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }

    // Runs f on the window's thread: a message sent there waits until it has run.
    template <typename F> void OnGui(F f) {
        if (std::this_thread::get_id() == gui_ || !main_) return f();
        std::function<void()> call = f;
        ::SendMessageW(main_, kOnGui, 0, reinterpret_cast<LPARAM>(&call));
    }

    // The program changes the model from any thread and goes on at once; the window's thread then
    // brings the control up to the model's state.
    void ControlChanged(uint32_t unit, ControlModel::Change change) override {
        if (std::this_thread::get_id() == gui_) return Apply(unit, change);
        if (main_) ::PostMessageW(main_, kMirror, unit, LPARAM(change));
    }

    void Apply(uint32_t unit, ControlModel::Change change) {
        auto it = controls_.find(unit);
        if (it == controls_.end()) return;
        HWND w = it->second;
        uint32_t type = units_[w].type;
        // Texts belong to the edit fields, items to the combo box, rows to the list: captions stay.
        if ((change == ControlModel::Change::Text && type != form::kEditBox && type != form::kComboBox) ||
            (change == ControlModel::Change::Items && type != form::kComboBox) ||
            (change == ControlModel::Change::Rows && type != form::kListView))
            return;
        applying_ = true; // the controls' own change notices must not come back into the model
        switch (change) {
        case ControlModel::Change::Disabled: ::EnableWindow(w, !controls().Disabled(unit)); break;
        case ControlModel::Change::Text: {
            std::wstring text = GbkToWide(controls().Text(unit));
            if (WindowText(w) != text) ::SetWindowTextW(w, text.c_str());
            break;
        }
        case ControlModel::Change::Items: {
            std::wstring text = GbkToWide(controls().Text(unit));
            ::SendMessageW(w, CB_RESETCONTENT, 0, 0);
            for (const std::string &item : controls().ItemsFrom(unit, 0))
                ::SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(GbkToWide(item).c_str()));
            ::SetWindowTextW(w, text.c_str()); // the edit field keeps its text
            break;
        }
        case ControlModel::Change::Rows: {
            ControlModel::Control state = controls().Snapshot(unit);
            size_t shown = size_t(::SendMessageW(w, LVM_GETITEMCOUNT, 0, 0));
            if (shown > state.rows.size()) {
                ::SendMessageW(w, LVM_DELETEALLITEMS, 0, 0);
                shown = 0;
            }
            for (size_t r = 0; r < state.rows.size(); ++r) {
                if (r >= shown) {
                    LVITEMW item{};
                    item.iItem = int(r);
                    ::SendMessageW(w, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
                }
                for (size_t c = 0; c < state.rows[r].size(); ++c) {
                    std::wstring text = GbkToWide(state.rows[r][c]);
                    LVITEMW cell{};
                    cell.iSubItem = int(c);
                    cell.pszText = text.data();
                    ::SendMessageW(w, LVM_SETITEMTEXTW, r, reinterpret_cast<LPARAM>(&cell));
                }
            }
            break;
        }
        }
        applying_ = false;
    }

    static LRESULT CALLBACK Procedure(HWND w, UINT message, WPARAM wp, LPARAM lp) {
        if (message == WM_NCCREATE)
            ::SetWindowLongPtrW(w, GWLP_USERDATA, LONG_PTR(reinterpret_cast<CREATESTRUCTW *>(lp)->lpCreateParams));
        auto *self = reinterpret_cast<Win32Window *>(::GetWindowLongPtrW(w, GWLP_USERDATA));
        return self ? self->Handle(w, message, wp, lp) : ::DefWindowProcW(w, message, wp, lp);
    }

    LRESULT Handle(HWND w, UINT message, WPARAM wp, LPARAM lp) {
        switch (message) {
        case kMirror: Apply(uint32_t(wp), ControlModel::Change(lp)); return 0;
        case kOnGui: (*reinterpret_cast<std::function<void()> *>(lp))(); return 0;
        case WM_COMMAND: Command(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp)); return 0;
        case WM_DPICHANGED: { // moved to a monitor of another scale: the system suggests the new rectangle
            const RECT *r = reinterpret_cast<const RECT *>(lp);
            ::SetWindowPos(w, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            Layout(HIWORD(wp), false);
            return 0;
        }
        case WM_CLOSE: ::DestroyWindow(w); return 0;
        case WM_DESTROY:
            main_ = nullptr;
            ::PostQuitMessage(0);
            return 0;
        }
        return ::DefWindowProcW(w, message, wp, lp);
    }

    void Command(WORD id, WORD code, HWND from) {
        if (!from) { // a menu item
            auto it = menuHandlers_.find(id);
            if (it != menuHandlers_.end()) Call(it->second);
            return;
        }
        auto it = units_.find(from);
        if (it == units_.end()) return;
        uint32_t unit = it->second.id;
        switch (it->second.type) {
        case form::kButton:
            if (code == BN_CLICKED) Call(form_.Handler(unit, form::kEventClicked));
            break;
        case form::kEditBox:
            if (code == EN_CHANGE && !applying_) controls().SetText(unit, WideToGbk(WindowText(from)));
            break;
        case form::kComboBox:
            if (code == CBN_EDITCHANGE && !applying_) controls().SetText(unit, WideToGbk(WindowText(from)));
            if (code == CBN_SELCHANGE) {
                // A chosen item's own bytes go into the edit field, not their rendering.
                LRESULT index = ::SendMessageW(from, CB_GETCURSEL, 0, 0);
                if (auto item = controls().Item(unit, int32_t(index))) controls().SetText(unit, *item);
            }
            break;
        case form::kPicture:
            if (code == STN_CLICKED)
                if (auto h = form_.Handler(unit, form::kEventMousePressed)) {
                    POINT at;
                    ::GetCursorPos(&at);
                    ::ScreenToClient(from, &at);
                    CallPressed(h, 1, int32_t(at.x), int32_t(at.y));
                }
            break;
        }
    }

    // Where a control lies in the window's client area: group boxes hold their children's positions.
    POINT Origin(const form::Control &c) const {
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

    void Build() {
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

        // The designed rectangle is the outer one, frame and caption included.
        main_ =
            ::CreateWindowExW(0, cls.lpszClassName, GbkToWide(form_.window.caption).c_str(),
                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, form_.window.left,
                              form_.window.top, form_.window.width, form_.window.height, nullptr, bar, instance, this);
        // Group boxes first, so that the controls inside them are drawn above them.
        for (bool groups : {true, false})
            for (const form::Control &c : form_.controls)
                if ((c.type == form::kGroupBox) == groups) Make(c);
        Layout(DpiOf(main_), true);
        // What the program set before the window existed.
        for (const form::Control &c : form_.controls)
            for (auto change : {ControlModel::Change::Disabled, ControlModel::Change::Text, ControlModel::Change::Items,
                                ControlModel::Change::Rows})
                Apply(c.id, change);
    }

    void Make(const form::Control &c) {
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

    // Lays the form out at a DPI: the designed geometry, fonts and column widths times DPI/96, so the
    // window is drawn sharp at any scale and nothing overlaps. With `sizeWindow` the window takes its
    // designed rectangle at that scale, grown where its frame leaves the controls too little room.
    void Layout(UINT dpi, bool sizeWindow) {
        auto scaled = [dpi](int v) { return ::MulDiv(v, int(dpi), 96); };
        HFONT font = MakeFont(dpi);
        ::SendMessageW(main_, WM_SETFONT, WPARAM(font), FALSE);
        int right = 0, bottom = 0;
        for (const form::Control &c : form_.controls) {
            auto it = controls_.find(c.id);
            if (it == controls_.end()) continue;
            HWND w = it->second;
            POINT at = Origin(c);
            // A drop-down list's height includes its open list.
            int height = scaled(c.height) + (c.type == form::kComboBox ? scaled(200) : 0);
            ::SetWindowPos(w, nullptr, scaled(at.x), scaled(at.y), scaled(c.width), height,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            ::SendMessageW(w, WM_SETFONT, WPARAM(font), TRUE);
            right = std::max(right, scaled(at.x + c.width));
            bottom = std::max(bottom, scaled(at.y + c.height));
            if (c.type == form::kListView)
                for (size_t i = 0; i < c.columns.size(); ++i)
                    ::SendMessageW(w, LVM_SETCOLUMNWIDTH, i, MAKELPARAM(scaled(int(c.columns[i].width)), 0));
            if (c.type == form::kPicture && picture_) {
                // The emblem drawn whole inside its box.
                HICON fitted =
                    static_cast<HICON>(::CopyImage(picture_, IMAGE_ICON, scaled(c.width), scaled(c.height), 0));
                HICON old =
                    reinterpret_cast<HICON>(::SendMessageW(w, STM_SETICON, WPARAM(fitted ? fitted : picture_), 0));
                if (old && old != picture_) ::DestroyIcon(old);
            }
        }
        if (font_) ::DeleteObject(font_);
        font_ = font;
        if (sizeWindow) {
            ::SetWindowPos(main_, nullptr, scaled(form_.window.left), scaled(form_.window.top),
                           scaled(form_.window.width), scaled(form_.window.height), SWP_NOZORDER | SWP_NOACTIVATE);
            // The lowest and the rightmost control keep their designed margin to the client area's edge.
            RECT client;
            ::GetClientRect(main_, &client);
            int wantWidth = right + scaled(7), wantHeight = bottom + scaled(7);
            int growX = std::max(0, wantWidth - int(client.right)),
                growY = std::max(0, wantHeight - int(client.bottom));
            if (growX || growY) {
                RECT outer;
                ::GetWindowRect(main_, &outer);
                ::SetWindowPos(main_, nullptr, 0, 0, outer.right - outer.left + growX, outer.bottom - outer.top + growY,
                               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
            }
        }
        ::InvalidateRect(main_, nullptr, TRUE);
    }

    struct Unit {
        uint32_t id;
        uint32_t type;
    };
    std::thread::id gui_;
    std::wstring programName_;
    HWND main_ = nullptr;
    HFONT font_ = nullptr;
    HICON picture_ = nullptr; // the emblem at its own size; the box shows a copy fitted to it
    std::map<uint32_t, HWND> controls_;
    std::map<HWND, Unit> units_;
    std::map<UINT, uint32_t> menuHandlers_;
    bool applying_ = false;
};

} // namespace

FrontEndResult<Win32FrontEnd> Win32FrontEnd::Create(FrontEndOptions options) {
    return MakeFormFrontEnd<Win32FrontEnd, Win32Window>(std::move(options));
}

} // namespace rt
