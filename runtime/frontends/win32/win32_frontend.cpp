#include "win32_frontend.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include "formats/form/form.h"
#include "formats/text/wide.h"
#include "runtime/frontends/win32/win32_gdi.h"
#include "runtime/frontends/win32/win32_window.h"

namespace rt::win32ui {
namespace {

constexpr UINT kMirror = WM_APP + 1; // wParam: unit, lParam: the change; posted by other threads
constexpr UINT kOnGui = WM_APP + 2;  // lParam: a std::function<void()> to run; sent by other threads

} // namespace

Win32Window::Win32Window(FrontEndOptions options, form::Form form)
    : Win32FrontEnd(std::move(form), std::move(options.routineAt)), programName_(Utf8ToWide(options.programName)) {
    gui_ = std::this_thread::get_id();
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&classes);
}

Win32Window::~Win32Window() {
    if (main_) ::DestroyWindow(main_);
}

void Win32Window::ShowMessage(std::string_view text, int32_t, std::optional<std::string_view> title) {
    std::wstring t = GbkToWide(text);
    std::wstring caption = title ? GbkToWide(*title) : main_ ? WindowText(main_) : programName_;
    OnGui([&] {
        if (presenter_) return presenter_(WideToUtf8(t), WideToUtf8(caption));
        ::MessageBoxW(main_, t.c_str(), caption.c_str(), MB_OK);
    });
}

void Win32Window::RunPending() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) Dispatch(msg);
}

void Win32Window::ProcessEvents() {
    if (std::this_thread::get_id() == gui_) RunPending(); // the trace thread has no events to run
}

void Win32Window::ShowWindow(uint32_t window) {
    OnGui([&] {
        if (window != form_.windowId || main_) return;
        Build();
        // The window's created event: the history is loaded before the user sees the window.
        Call(form_.Handler(form_.window.id, form::kEventCreated));
        ::ShowWindow(main_, SW_SHOW);
        ::UpdateWindow(main_);
    });
}

void Win32Window::RunEvents() {
    MSG msg;
    while (main_ && ::GetMessageW(&msg, nullptr, 0, 0) > 0) Dispatch(msg);
}

void Win32Window::RequestQuit() {
    if (main_) ::PostMessageW(main_, WM_CLOSE, 0, 0);
}

void Win32Window::OpenUrl(std::string_view url) {
    std::string u = GbkToUtf8(url);
    OnGui([&] {
        if (opener_) return opener_(u);
        ::ShellExecuteW(main_, L"open", Utf8ToWide(u).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    });
}

void *Win32Window::Native(uint32_t unit) const {
    if (unit == form_.windowId) return main_;
    auto it = controls_.find(unit);
    return it == controls_.end() ? nullptr : it->second;
}

void Win32Window::Dispatch(MSG &msg) {
    if (main_ && ::IsDialogMessageW(main_, &msg)) return; // Tab moves between the controls
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

// Runs f on the window's thread: a message sent there waits until it has run.
void Win32Window::OnGui(const std::function<void()> &f) {
    if (std::this_thread::get_id() == gui_ || !main_) return f();
    std::function<void()> call = f;
    ::SendMessageW(main_, kOnGui, 0, reinterpret_cast<LPARAM>(&call));
}

// The program changes the model from any thread and goes on at once; the window's thread then
// brings the control up to the model's state.
void Win32Window::ControlChanged(uint32_t unit, ControlModel::Change change) {
    if (std::this_thread::get_id() == gui_) return Apply(unit, change);
    if (main_) ::PostMessageW(main_, kMirror, unit, LPARAM(change));
}

void Win32Window::Apply(uint32_t unit, ControlModel::Change change) {
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

LRESULT CALLBACK Win32Window::Procedure(HWND w, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_NCCREATE)
        ::SetWindowLongPtrW(w, GWLP_USERDATA, LONG_PTR(reinterpret_cast<CREATESTRUCTW *>(lp)->lpCreateParams));
    auto *self = reinterpret_cast<Win32Window *>(::GetWindowLongPtrW(w, GWLP_USERDATA));
    return self ? self->Handle(w, message, wp, lp) : ::DefWindowProcW(w, message, wp, lp);
}

LRESULT Win32Window::Handle(HWND w, UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
    case kMirror: Apply(uint32_t(wp), ControlModel::Change(lp)); return 0;
    case kOnGui: (*reinterpret_cast<std::function<void()> *>(lp))(); return 0;
    case WM_COMMAND: Command(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp)); return 0;
    case WM_DPICHANGED: { // moved to a monitor of another scale: laid out and placed again there
        const RECT *r = reinterpret_cast<const RECT *>(lp);
        Place(HIWORD(wp), *r);
        return 0;
    }
    case WM_GETMINMAXINFO:
    case WM_SIZE:
        if (Sizing(message, wp, lp)) return 0;
        break;
    case WM_CLOSE: ::DestroyWindow(w); return 0;
    case WM_DESTROY:
        main_ = nullptr;
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(w, message, wp, lp);
}

void Win32Window::Command(WORD id, WORD code, HWND from) {
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

} // namespace rt::win32ui

namespace rt {

FrontEndResult<Win32FrontEnd> Win32FrontEnd::Create(FrontEndOptions options) {
    return MakeFormFrontEnd<Win32FrontEnd, win32ui::Win32Window>(std::move(options));
}

} // namespace rt
