// The Win32 window: native controls built from the form segment, mirroring the control model.
// win32_frontend.cpp runs its messages and mirrors the model; win32_layout.cpp builds it and lays
// it out on its monitor at its DPI.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/frontends/win32/win32_frontend.h"
#include "runtime/frontends/window_placement.h"

namespace rt::win32ui {

class Win32Window final : public Win32FrontEnd {
  public:
    Win32Window(FrontEndOptions options, form::Form form);
    ~Win32Window() override;

    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view> title) override;
    void ProcessEvents() override;
    void ShowWindow(uint32_t window) override;
    void RunEvents() override;
    void RequestQuit() override;
    void OpenUrl(std::string_view url) override;
    void *Native(uint32_t unit) const override;

  private:
    // ---- Messages and the model (win32_frontend.cpp) ----
    void RunPending();
    void Dispatch(MSG &msg);
    void OnGui(const std::function<void()> &f);
    void ControlChanged(uint32_t unit, ControlModel::Change change) override;
    void Apply(uint32_t unit, ControlModel::Change change);
    static LRESULT CALLBACK Procedure(HWND w, UINT message, WPARAM wp, LPARAM lp);
    LRESULT Handle(HWND w, UINT message, WPARAM wp, LPARAM lp);
    void Command(WORD id, WORD code, HWND from);

    // ---- Building and laying out (win32_layout.cpp) ----
    void Build();
    void Make(const form::Control &c);
    POINT Origin(const form::Control &c) const;
    // Lays the form out at a DPI and places the window on its monitor: the one under the middle of
    // `moved`, the rectangle the system suggests for a move to a monitor of another DPI, otherwise
    // the one at the form's position.
    void Place(UINT dpi, std::optional<RECT> moved);
    void LayOut(UINT dpi);
    void FitLabels(UINT dpi, HFONT font);
    void FitList(int height);
    int FiveRows(HWND list) const;
    // The window's size limits and its list's height when the user resizes it.
    bool Sizing(UINT message, WPARAM wp, LPARAM lp);

    struct Unit {
        uint32_t id;
        uint32_t type;
    };
    std::thread::id gui_;
    std::wstring programName_;
    HWND main_ = nullptr;
    HFONT font_ = nullptr;
    std::vector<HFONT> labelFonts_; // the smaller fonts of labels whose text needs them
    HICON picture_ = nullptr;       // the emblem at its own size; the box shows a copy fitted to it
    std::map<uint32_t, HWND> controls_;
    std::map<HWND, Unit> units_;
    std::map<uint32_t, RECT> laidOut_; // each control's rectangle at the DPI, before the list is fitted
    std::map<UINT, uint32_t> menuHandlers_;
    bool applying_ = false;
    bool placing_ = false; // the window's own moves while it is placed are not the user's
    PlacementRequest request_;
    Placement placement_;
};

} // namespace rt::win32ui
