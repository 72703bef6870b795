#pragma once
// The Win32 backend's form: the top-level window behind every form, owned by the
// application's window (Win32AppWindow.cpp) so that the taskbar button is the application's.
// It sizes its frame around the stored client size, paints its background, passes its
// controls' clicks on, and keeps what a handler threw for the event loop.

// Before windows.h, whose macros would take the names of the controls' own constants.
#include "ui/Peers.h"
#include "ui/win32/Win32Support.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bunkmere::win32 {

class TWin32FormPeer final : public TFormPeer {
 public:
  explicit TWin32FormPeer(TPeerEvents& AEvents) : FEvents(AEvents) {
    RegisterClassOnce();
    // Owned by the application's window, the form has no taskbar button of its own.
    FWindow.reset(CreateWindowExW(0, kFormClass, L"", StyleFor(FStyle, FIcons), CW_USEDEFAULT,
                                  CW_USEDEFAULT, 0, 0, FormOwnerWindow(), nullptr, Instance(),
                                  this));
  }
  // Nothing the window says while it is torn down reaches the form, which is going too.
  ~TWin32FormPeer() override { SetWindowLongPtrW(Handle(), GWLP_USERDATA, 0); }
  HWND Handle() const noexcept { return FWindow.get(); }

  void SetCaption(const std::string& AValue) override {
    SetWindowTextW(Handle(), Wide(AValue).c_str());
  }
  void Move(int ALeft, int ATop) override {
    SetWindowPos(Handle(), nullptr, ALeft, ATop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void SetColor(TColor AValue) override {
    FColorValue = AValue;
    MakeColors();
    InvalidateRect(Handle(), nullptr, TRUE);
  }
  void SetFont(const TFontData& /*AFont*/) override {
    // The form draws no text of its own; its controls are given their fonts one by one.
  }
  void SetBorder(TFormBorderStyle AStyle, std::uint8_t AIcons) override;
  void SetClientSize(int AWidth, int AHeight, bool AFixed, bool AResize) override {
    FWidth = AWidth;
    FHeight = AHeight;
    if (AFixed || AResize) ResizeToClient();
  }
  void Show(TWindowState AState) override {
    HideKeyboardCues();
    ShowWindow(Handle(), AState == TWindowState::wsMaximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    UpdateWindow(Handle());
    FocusRemembered();
  }
  void SetWindowState(TWindowState AState) override;
  bool IsMaximized() const override { return IsZoomed(Handle()) != FALSE; }
  void Close() override {
    ShowWindow(Handle(), SW_HIDE);
    // The program has one window: closing it ends the message loop.
    PostQuitMessage(0);
  }
  bool IsVisible() const override { return IsWindowVisible(Handle()) != FALSE; }
  void SetTabOrder(const std::vector<TControlPeer*>& AControls) override;
  std::optional<TRect> ScreenWorkArea() const override {
    RECT r;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0)) return std::nullopt;
    return TRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
  }
  int ScreenPixelsPerInch() const override;
  double ScreenRefreshRate() const override {
    // 0 and 1 stand for the hardware's default rate.
    const int hz = ScreenCaps(VREFRESH);
    return hz > 1 ? hz : 0.0;
  }
  void PaintNow() override;
  std::optional<std::pair<int, int>> OuterSize() const override;
  std::exception_ptr TakeFailure() override { return std::exchange(FFailure, nullptr); }

  // The first failure thrown inside one of the window's procedures ends the event loop; the
  // loop's caller takes it on.
  void KeepFailure(std::exception_ptr AFailure) noexcept {
    if (FFailure) return;
    FFailure = std::move(AFailure);
    PostQuitMessage(1);
  }
  // Every control on the window has its own id, kept while it stays on the window.
  int NextControlId() noexcept { return FNextId++; }

  // The control that takes the focus when the window next becomes active.
  void RememberFocus(HWND AControl) { FFocus = AControl; }
  HWND RememberedFocus() const noexcept { return FFocus; }
  void FocusRemembered() {
    if (FFocus != nullptr && IsWindow(FFocus) && GetParent(FFocus) == Handle()) ::SetFocus(FFocus);
  }

 private:
  static DWORD StyleFor(TFormBorderStyle AStyle, std::uint8_t AIcons);
  static int ScreenCaps(int AIndex);

  // Sizes the outer window so that its client area is the size stored.
  void ResizeToClient();
  // Grows a client rectangle by the window's frame and title bar at its density.
  bool AddFrame(RECT& ARect) const;

  static void RegisterClassOnce();
  static LRESULT CALLBACK WindowProc(HWND AWindow, UINT AMessage, WPARAM W, LPARAM L);
  std::optional<LRESULT> OnMessage(UINT AMessage, WPARAM W, LPARAM L);

  HBRUSH Brush() const { return FBrush ? FBrush.get() : GetSysColorBrush(COLOR_BTNFACE); }
  // The colour and brush of the background, made again when the desktop's colours change (a
  // system colour such as clBtnFace follows them).
  void MakeColors();
  // Access keys and the focus rectangle start hidden where the person has chosen so (the
  // keyboard cues setting); the first use of the keyboard shows them (DialogKeys.cpp).
  void HideKeyboardCues();
  // The desktop's colours or theme changed (high contrast turned on or off): everything is
  // drawn again in the new ones, the controls told as the system tells top-level windows.
  void ColorsChanged(UINT AMessage, WPARAM W, LPARAM L);

  TPeerEvents& FEvents;
  TBrushHandle FBrush;
  TColor FColorValue = clBtnFace;
  COLORREF FColor = GetSysColor(COLOR_BTNFACE);
  TFormBorderStyle FStyle = TFormBorderStyle::bsSizeable;
  std::uint8_t FIcons = 0x07;
  int FWidth = 0, FHeight = 0;
  HWND FFocus = nullptr;
  int FDpi = 0;  // from the last WM_DPICHANGED; 0 until one comes
  std::exception_ptr FFailure;
  // Ids from 100 on: the low ones are the dialog manager's (IDOK, IDCANCEL, ...).
  int FNextId = 100;
  TWindowHandle FWindow;
};

}  // namespace bunkmere::win32
