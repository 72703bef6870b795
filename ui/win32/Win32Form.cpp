#include "ui/win32/Win32Form.h"

#include "ui/win32/Win32AppWindow.h"
#include "ui/win32/Win32Control.h"

namespace bunkmere::win32 {

void TWin32FormPeer::SetBorder(TFormBorderStyle AStyle, std::uint8_t AIcons) {
  FStyle = AStyle;
  FIcons = AIcons;
  const LONG_PTR keep =
      GetWindowLongPtrW(Handle(), GWL_STYLE) & (WS_VISIBLE | WS_MAXIMIZE | WS_MINIMIZE);
  SetWindowLongPtrW(Handle(), GWL_STYLE, static_cast<LONG_PTR>(StyleFor(AStyle, AIcons)) | keep);
  SetWindowLongPtrW(Handle(), GWL_EXSTYLE,
                    AStyle == TFormBorderStyle::bsDialog ? WS_EX_DLGMODALFRAME : 0);
  ResizeToClient();
}

void TWin32FormPeer::SetWindowState(TWindowState AState) {
  switch (AState) {
    case TWindowState::wsMaximized:
      if (!IsZoomed(Handle())) ShowWindow(Handle(), SW_MAXIMIZE);
      break;
    case TWindowState::wsMinimized:
      if (!IsIconic(Handle())) ShowWindow(Handle(), SW_MINIMIZE);
      break;
    case TWindowState::wsNormal:
      if (IsZoomed(Handle()) || IsIconic(Handle())) ShowWindow(Handle(), SW_RESTORE);
      ResizeToClient();
      break;
  }
}

void TWin32FormPeer::SetTabOrder(const std::vector<TControlPeer*>& AControls) {
  // Focus moves through child windows in their order from the top.
  HWND after = HWND_TOP;
  for (TControlPeer* p : AControls) {
    const HWND w = ControlOf(*p).Handle();
    SetWindowPos(w, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = w;
  }
}

int TWin32FormPeer::ScreenPixelsPerInch() const {
  // The density the window was last moved to: the system's answer may lag behind the message.
  if (FDpi > 0) return FDpi;
  // The density of the window's own screen (Windows 10 1607 and later), else the system's.
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  if (const HMODULE user = GetModuleHandleW(L"user32.dll")) {
    if (const auto get = reinterpret_cast<TGetDpiForWindow>(
            reinterpret_cast<void*>(GetProcAddress(user, "GetDpiForWindow")))) {
      if (const UINT dpi = get(Handle()); dpi > 0) return static_cast<int>(dpi);
    }
  }
  return ScreenCaps(LOGPIXELSY);
}

void TWin32FormPeer::PaintNow() {
  FEvents.PeerBeforePaint();
  RedrawWindow(Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  // A handler that runs for long paints through here and never returns to the event loop:
  // looking at the queue, without taking anything from it, tells the system the window still
  // answers, so it is not replaced by a "(Not Responding)" ghost that hides these repaints
  // and offers to close the program. Clicks and keys stay queued; none runs mid-handler.
  MSG waiting;
  PeekMessageW(&waiting, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD);
}

std::optional<std::pair<int, int>> TWin32FormPeer::OuterSize() const {
  RECT r{0, 0, FWidth, FHeight};
  if (!AddFrame(r)) return std::nullopt;
  return std::pair<int, int>{r.right - r.left, r.bottom - r.top};
}

bool TWin32FormPeer::AddFrame(RECT& ARect) const {
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE));
  // The frame and title bar at the window's own density (Windows 10 1607 and later): at the
  // system's, a window on a screen of another density has a client area off by the difference.
  using TAdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = [] {
    const HMODULE user = GetModuleHandleW(L"user32.dll");
    return user != nullptr ? reinterpret_cast<TAdjustForDpi>(reinterpret_cast<void*>(
                                 GetProcAddress(user, "AdjustWindowRectExForDpi")))
                           : nullptr;
  }();
  if (adjust != nullptr)
    return adjust(&ARect, style, FALSE, exStyle, static_cast<UINT>(ScreenPixelsPerInch())) != FALSE;
  return AdjustWindowRectEx(&ARect, style, FALSE, exStyle) != FALSE;
}

DWORD TWin32FormPeer::StyleFor(TFormBorderStyle AStyle, std::uint8_t AIcons) {
  auto has = [AIcons](TBorderIcon i) { return (AIcons & (1u << static_cast<unsigned>(i))) != 0; };
  DWORD style = WS_CLIPCHILDREN;
  switch (AStyle) {
    case TFormBorderStyle::bsNone:
      return style | WS_POPUP;
    case TFormBorderStyle::bsSingle:
      style |= WS_OVERLAPPED | WS_CAPTION;
      break;
    case TFormBorderStyle::bsSizeable:
      style |= WS_OVERLAPPED | WS_CAPTION | WS_THICKFRAME;
      break;
    case TFormBorderStyle::bsDialog:
      style |= WS_POPUP | WS_CAPTION;
      break;
  }
  if (has(TBorderIcon::biSystemMenu)) {
    style |= WS_SYSMENU;
    // Without a system menu there are no minimise and maximise boxes either; a dialog's
    // border has none.
    if (AStyle != TFormBorderStyle::bsDialog) {
      if (has(TBorderIcon::biMinimize)) style |= WS_MINIMIZEBOX;
      if (has(TBorderIcon::biMaximize)) style |= WS_MAXIMIZEBOX;
    }
  }
  return style;
}

int TWin32FormPeer::ScreenCaps(int AIndex) {
  const HDC dc = GetDC(nullptr);
  if (dc == nullptr) return 0;
  const int value = GetDeviceCaps(dc, AIndex);
  ReleaseDC(nullptr, dc);
  return value;
}

void TWin32FormPeer::ResizeToClient() {
  if (IsZoomed(Handle()) || IsIconic(Handle())) return;
  RECT client;
  GetClientRect(Handle(), &client);
  RECT r{0, 0, FWidth, FHeight};
  AddFrame(r);
  SetWindowPos(Handle(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TWin32FormPeer::RegisterClassOnce() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = Instance();
    // The executable's first icon is the application's.
    wc.hIcon = LoadIconW(Instance(), MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kFormClass;
    return RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
}

LRESULT CALLBACK TWin32FormPeer::WindowProc(HWND AWindow, UINT AMessage, WPARAM W, LPARAM L) {
  if (AMessage == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(L);
    SetWindowLongPtrW(AWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (AMessage == WM_NCDESTROY) {
    SetWindowLongPtrW(AWindow, GWLP_USERDATA, 0);
  }
  auto* self = reinterpret_cast<TWin32FormPeer*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
  if (self != nullptr && self->FWindow != nullptr) {
    // Nothing thrown may unwind through the system's frames: it is kept and the loop ends.
    try {
      if (auto result = self->OnMessage(AMessage, W, L)) return *result;
    } catch (...) {
      self->KeepFailure(std::current_exception());
      return 0;
    }
  }
  return DefWindowProcW(AWindow, AMessage, W, L);
}

std::optional<LRESULT> TWin32FormPeer::OnMessage(UINT AMessage, WPARAM W, LPARAM L) {
  switch (AMessage) {
    case WM_SYSCOMMAND:
      // An owned window minimised on its own would sit as a caption above the taskbar: the
      // application's window is minimised instead, which hides the windows it owns, and its
      // taskbar button brings them back.
      if ((W & 0xFFF0) == SC_MINIMIZE) {
        if (const HWND owner = GetWindow(Handle(), GW_OWNER); owner != nullptr) {
          ShowWindow(owner, SW_MINIMIZE);
          return 0;
        }
      }
      break;
    case WM_COMMAND:
      if (HIWORD(W) == BN_CLICKED && L != 0) {
        if (TWin32Control* c = TWin32Control::Of(reinterpret_cast<HWND>(L)))
          c->Events().PeerClicked();
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
      if (TWin32Control* c = TWin32Control::Of(reinterpret_cast<HWND>(L))) {
        // Labels are opaque in the form's colour, their text in their font's colour.
        const auto dc = reinterpret_cast<HDC>(W);
        SetTextColor(dc, c->TextColor());
        SetBkColor(dc, FColor);
        return reinterpret_cast<LRESULT>(Brush());
      }
      break;
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(Handle(), &r);
      FillRect(reinterpret_cast<HDC>(W), &r, Brush());
      return 1;
    }
    case WM_PAINT:
      FEvents.PeerBeforePaint();
      // The taskbar's picture of the window is asked for again when next shown.
      if (GetWindow(Handle(), GW_OWNER) != nullptr) TaskbarPictureChanged();
      break;
    case WM_SIZE: {
      const TWindowState state = W == SIZE_MAXIMIZED   ? TWindowState::wsMaximized
                                 : W == SIZE_MINIMIZED ? TWindowState::wsMinimized
                                                       : TWindowState::wsNormal;
      FEvents.PeerWindowStateChanged(state);
      if (state != TWindowState::wsMinimized) FEvents.PeerClientResized(LOWORD(L), HIWORD(L));
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(W) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && GetParent(focus) == Handle()) FFocus = focus;
      }
      break;
    case WM_SETFOCUS:
      FocusRemembered();
      return 0;
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
      ColorsChanged(AMessage, W, L);
      break;
    case WM_DPICHANGED: {
      // The new density first: the frame around the scaled client area is sized for it.
      FDpi = HIWORD(W);
      const auto* r = reinterpret_cast<const RECT*>(L);
      FEvents.PeerDensityChanged(HIWORD(W),
                                 TRect{r->left, r->top, r->right - r->left, r->bottom - r->top});
      return 0;
    }
    case WM_CLOSE:
      Close();
      return 0;
    default:
      break;
  }
  return std::nullopt;
}

void TWin32FormPeer::MakeColors() {
  FColor = ToColorRef(FColorValue);
  FBrush.reset(CreateSolidBrush(FColor));
}

void TWin32FormPeer::ColorsChanged(UINT AMessage, WPARAM W, LPARAM L) {
  MakeColors();
  for (HWND child = GetWindow(Handle(), GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT))
    SendMessageW(child, AMessage, W, L);
  RedrawWindow(Handle(), nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void TWin32FormPeer::HideKeyboardCues() {
  BOOL shown = FALSE;
  if (!SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &shown, 0) || shown) return;
  SendMessageW(Handle(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEACCEL | UISF_HIDEFOCUS), 0);
}

}  // namespace bunkmere::win32
