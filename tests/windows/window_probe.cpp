// Reads the routetrace window of another process as a user sees it, for the window's end-to-end
// tests under wine. usage: window_probe layout | placement | rows | message | dismiss | close
//   layout   each control's rectangle in the client area; fails when one leaves the client area or
//            two overlap (a group box may hold the controls it frames)
//   placement  the window's rectangle, its monitor's work area, whether it can be resized, the
//            list's rectangle in the client area and how many rows it shows, each "NAME L T W H"
//   rows     the result list's rows, their cells separated by tabs (UTF-8)
//   message  the open message box of that process: its text (UTF-8); fails when none is open
//   dismiss  presses the open message box's OK and waits until it has gone
//   close    asks the window to close
//   dialog   a setup wizard's window (a dialog of its own): its caption, then the text of each
//            visible control, one per line (UTF-8), "[x] " before a ticked or chosen button's
//   next     presses that wizard's Next button
//   tick N   ticks the Nth item (from 0) of that wizard's components tree
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring &w) {
    if (w.empty()) return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

void Print(const std::string &line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

std::wstring ClassOf(HWND w) {
    wchar_t name[64] = {};
    ::GetClassNameW(w, name, 64);
    return name;
}

struct Control {
    HWND window;
    std::wstring cls;
    RECT rect; // in the main window's client area
    bool groupBox;
};

std::vector<Control> Controls(HWND main) {
    std::vector<Control> controls;
    for (HWND c = ::GetWindow(main, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        if (!::IsWindowVisible(c)) continue;
        Control k{c, ClassOf(c), {}, false};
        ::GetWindowRect(c, &k.rect);
        ::MapWindowPoints(nullptr, main, reinterpret_cast<POINT *>(&k.rect), 2);
        k.groupBox =
            _wcsicmp(k.cls.c_str(), L"Button") == 0 && (::GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
        controls.push_back(k);
    }
    return controls;
}

bool Inside(const RECT &inner, const RECT &outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

std::string Describe(const Control &c) {
    char b[160];
    std::snprintf(b, sizeof b, "%s at %ld,%ld size %ldx%ld", Utf8(c.cls).c_str(), c.rect.left, c.rect.top,
                  c.rect.right - c.rect.left, c.rect.bottom - c.rect.top);
    return b;
}

int Layout(HWND main) {
    RECT client;
    ::GetClientRect(main, &client);
    std::vector<Control> controls = Controls(main);
    int problems = 0;
    Print("client area " + std::to_string(client.right) + "x" + std::to_string(client.bottom) + ", " +
          std::to_string(controls.size()) + " controls");
    for (size_t i = 0; i < controls.size(); ++i) {
        Print("  " + Describe(controls[i]));
        if (!Inside(controls[i].rect, client)) {
            Print("OUTSIDE the client area: " + Describe(controls[i]));
            ++problems;
        }
        for (size_t j = i + 1; j < controls.size(); ++j) {
            RECT common;
            if (!::IntersectRect(&common, &controls[i].rect, &controls[j].rect)) continue;
            if ((controls[i].groupBox && Inside(controls[j].rect, controls[i].rect)) ||
                (controls[j].groupBox && Inside(controls[i].rect, controls[j].rect)))
                continue;
            Print("OVERLAP: " + Describe(controls[i]) + " and " + Describe(controls[j]));
            ++problems;
        }
    }
    return problems == 0 ? 0 : 1;
}

std::string Rectangle(const char *name, const RECT &r) {
    char b[120];
    std::snprintf(b, sizeof b, "%s %ld %ld %ld %ld", name, r.left, r.top, r.right - r.left, r.bottom - r.top);
    return b;
}

int Placement(HWND main) {
    RECT outer;
    ::GetWindowRect(main, &outer);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(main, MONITOR_DEFAULTTONEAREST), &monitor);
    Print(Rectangle("window", outer));
    Print(Rectangle("workarea", monitor.rcWork));
    Print(std::string("resizable ") + ((::GetWindowLongW(main, GWL_STYLE) & WS_THICKFRAME) ? "1" : "0"));
    for (const Control &c : Controls(main))
        if (c.cls == WC_LISTVIEWW) {
            Print(Rectangle("list", c.rect));
            Print("rows " + std::to_string(::SendMessageW(c.window, LVM_GETCOUNTPERPAGE, 0, 0)));
        }
    return 0;
}

// The list view's cells, read through memory of the window's own process: a list view answers
// LVM_GETITEMTEXT into its caller's address space only.
int Rows(HWND main) {
    HWND list = nullptr;
    for (const Control &c : Controls(main))
        if (c.cls == WC_LISTVIEWW) list = c.window;
    if (!list) return Print("no list view"), 1;
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    int columns = int(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    int rows = int(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    DWORD pid = 0;
    ::GetWindowThreadProcessId(list, &pid);
    HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return Print("cannot open the window's process"), 1;
    constexpr int kChars = 512;
    auto *remote = static_cast<uint8_t *>(
        ::VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + kChars * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
    for (int r = 0; r < rows; ++r) {
        std::string line;
        for (int c = 0; c < columns; ++c) {
            LVITEMW item{};
            item.iSubItem = c;
            item.pszText = reinterpret_cast<wchar_t *>(remote + sizeof(LVITEMW));
            item.cchTextMax = kChars;
            ::WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
            LRESULT n = ::SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(r), reinterpret_cast<LPARAM>(remote));
            std::wstring text(size_t(n > 0 ? n : 0), L'\0');
            if (n > 0)
                ::ReadProcessMemory(process, remote + sizeof(LVITEMW), text.data(), size_t(n) * sizeof(wchar_t),
                                    nullptr);
            line += (c ? "\t" : "") + Utf8(text);
        }
        Print(line);
    }
    ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    ::CloseHandle(process);
    return 0;
}

struct Search {
    DWORD pid;
    HWND box;
};

BOOL CALLBACK FindBox(HWND w, LPARAM lp) {
    auto *s = reinterpret_cast<Search *>(lp);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(w, &pid);
    if (pid != s->pid || !::IsWindowVisible(w) || ClassOf(w) != L"#32770") return TRUE;
    s->box = w;
    return FALSE;
}

HWND MessageBox(HWND main) {
    Search s{0, nullptr};
    ::GetWindowThreadProcessId(main, &s.pid);
    ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&s));
    return s.box;
}

int Dismiss(HWND main) {
    HWND box = MessageBox(main);
    if (!box) return Print("no message box"), 1;
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 200 && ::IsWindow(box); ++i) ::Sleep(50); // waits for the box to go, at most 10 s
    return ::IsWindow(box) ? 1 : 0;
}

int Message(HWND main) {
    HWND box = MessageBox(main);
    if (!box) return Print("no message box"), 1;
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(box, 0xFFFF, text, 1024); // a message box's text control
    Print(Utf8(text));
    return 0;
}

BOOL CALLBACK FindWizard(HWND w, LPARAM lp) {
    if (!::IsWindowVisible(w) || ClassOf(w) != L"#32770") return TRUE;
    reinterpret_cast<Search *>(lp)->box = w;
    return FALSE;
}

HWND Wizard() {
    Search s{0, nullptr};
    ::EnumWindows(FindWizard, reinterpret_cast<LPARAM>(&s));
    return s.box;
}

std::wstring TextOf(HWND w) {
    std::wstring text(1 << 15, L'\0'); // a licence text fits
    // WM_GETTEXT is copied across processes by the system: another process's control reads too.
    auto n = ::SendMessageW(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(size_t(n > 0 ? n : 0));
    return text;
}

BOOL CALLBACK PrintText(HWND w, LPARAM) {
    std::wstring text = TextOf(w);
    if (!::IsWindowVisible(w) || text.empty()) return TRUE;
    // A ticked check box or chosen radio button shows as such.
    bool checked = ClassOf(w) == L"Button" && ::SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED;
    Print((checked ? "[x] " : "") + Utf8(text));
    return TRUE;
}

// Ticks the check box of the Nth top-level item (from 0) of the wizard's components tree, as a
// user does with the keyboard: the item is selected, then Space pressed.
int Tick(HWND wizard, int n) {
    HWND tree = ::FindWindowExW(wizard, nullptr, L"#32770", nullptr); // the page inside the wizard
    tree = tree ? ::FindWindowExW(tree, nullptr, WC_TREEVIEWW, nullptr) : nullptr;
    if (!tree) return Print("no components tree"), 1;
    auto item = ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    for (int i = 0; i < n && item; ++i) item = ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, item);
    if (!item) return Print("no such item"), 1;
    ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, item);
    ::SendMessageW(tree, WM_CHAR, VK_SPACE, 0);
    return 0;
}

int Dialog(HWND wizard) {
    Print(Utf8(TextOf(wizard)));
    ::EnumChildWindows(wizard, PrintText, 0);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    ::SetProcessDPIAware(); // rectangles in the screen's own pixels
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "dialog" || what == "next" || what == "tick") {
        HWND wizard = Wizard();
        if (!wizard) return Print("no wizard"), 1;
        if (what == "dialog") return Dialog(wizard);
        if (what == "tick") return Tick(wizard, argc > 2 ? std::atoi(argv[2]) : 0);
        return ::PostMessageW(wizard, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                              reinterpret_cast<LPARAM>(::GetDlgItem(wizard, IDOK)))
                   ? 0
                   : 1;
    }
    HWND main = ::FindWindowW(L"RouteTraceWindow", nullptr);
    if (!main) return Print("no routetrace window"), 1;
    if (what == "layout") return Layout(main);
    if (what == "placement") return Placement(main);
    if (what == "rows") return Rows(main);
    if (what == "message") return Message(main);
    if (what == "dismiss") return Dismiss(main);
    if (what == "close") return ::PostMessageW(main, WM_CLOSE, 0, 0) ? 0 : 1;
    Print("usage: window_probe layout | placement | rows | message | dismiss | close | dialog | next | tick N");
    return 2;
}
