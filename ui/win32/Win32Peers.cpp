// The Win32 backend's windows: a native window behind every form and a standard control
// (static, button, multi-line edit, progress bar) behind every control. The event loop and
// message boxes are in Win32Application.cpp, the dialog manager's keys in DialogKeys.cpp.
//
// Every window keeps its peer in its user data and clears it on WM_NCDESTROY, so no message
// that arrives while a window is torn down reaches a peer that is gone.

// Before windows.h, whose macros would take the names of the controls' own constants.
#include "ui/Control.h"
#include "ui/Form.h"
#include "ui/Peers.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "core/Exceptions.h"
#include "ui/win32/Win32Peers.h"
#include "ui/win32/Win32Support.h"

#include <deque>
#include <exception>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace bunkmere {
namespace {

using namespace win32;

// Runs the calls posted to a control, one per message.
constexpr UINT kRunPosted = WM_APP + 1;

class TWin32FormPeer;
// Keeps what a handler threw inside a window procedure on the control's window, for the event
// loop to carry on; defined with the form.
void KeepFailure(TWin32FormPeer* AForm, std::exception_ptr AFailure) noexcept;

// What every Win32 control peer does alike, around its standard control. The control is made
// only when it has a parent and its creation-only styles are known (Realise); until then, and
// across a remaking, the peer keeps its state: bounds, visibility, font, tab stop, text.
class TWin32Control {
 public:
  TWin32Control(TPeerEvents& AEvents, const wchar_t* AClass, DWORD AStyle)
      : FEvents(AEvents), FClass(AClass), FStyle(AStyle) {}
  virtual ~TWin32Control() = default;
  TWin32Control(const TWin32Control&) = delete;
  TWin32Control& operator=(const TWin32Control&) = delete;

  // Null until the control is realised on a window.
  HWND Handle() const noexcept { return FWindow.get(); }
  TPeerEvents& Events() const noexcept { return FEvents; }
  COLORREF TextColor() const noexcept { return FTextColor; }
  HFONT Font() const noexcept { return FFont.get(); }
  TWin32FormPeer* Form() const noexcept { return FParent; }

  // The peer of a control window, or null for a window that is not (or no longer) one.
  static TWin32Control* Of(HWND AWindow) {
    return reinterpret_cast<TWin32Control*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
  }

  void DoSetBounds(const TRect& r) {
    FBounds = r;
    if (Handle() != nullptr)
      SetWindowPos(Handle(), nullptr, r.Left, r.Top, r.Width, r.Height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void DoSetVisible(bool AValue) {
    FVisible = AValue;
    if (Handle() != nullptr) ShowWindow(Handle(), AValue ? SW_SHOWNA : SW_HIDE);
  }
  void DoSetFont(const TFontData& AFont) {
    TFontHandle font = MakeFont(AFont);
    if (Handle() != nullptr)
      SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    // The control drew with the old font until now: it goes only after the new one is in.
    FFont = std::move(font);
    FTextColor = ToColorRef(AFont.Color);
  }
  void DoSetTabStop(bool AValue) {
    FTabStop = AValue;
    if (Handle() == nullptr) return;
    const LONG_PTR style = GetWindowLongPtrW(Handle(), GWL_STYLE);
    SetWindowLongPtrW(Handle(), GWL_STYLE, AValue ? style | WS_TABSTOP : style & ~WS_TABSTOP);
  }
  void DoSetText(std::wstring AText) {
    FText = std::move(AText);
    if (Handle() != nullptr) SetWindowTextW(Handle(), FText.c_str());
  }
  void DoSetParent(TFormPeer* AParent);
  void DoSetFocus();
  void DoInvalidate() {
    if (Handle() != nullptr) InvalidateRect(Handle(), nullptr, TRUE);
  }
  void DoPaintNow() {
    if (Handle() != nullptr)
      RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  }
  void DoPost(std::function<void()> ACall) {
    FPosted.push_back(std::move(ACall));
    // A control not yet made gets its messages when it is.
    if (Handle() != nullptr) PostMessageW(Handle(), kRunPosted, 0, 0);
  }
  void DoRealise();

 protected:
  // The control's text while it has no native control (and as it had when it was last made).
  std::wstring& StoredText() noexcept { return FText; }
  const std::wstring& StoredText() const noexcept { return FText; }
  // The styles only creation reads, beyond the kind's own.
  virtual DWORD CreationStyle() const { return 0; }
  virtual DWORD ExStyle() const { return 0; }
  // Takes what the native control holds (text a person typed, where it is scrolled) before it
  // is destroyed, and gives it back to the new one.
  virtual void KeepState() {}
  virtual void RestoreState() {}
  // A message about to reach the control; a peer may bring the control up to date first.
  virtual void BeforeMessage(UINT /*AMessage*/) {}

 private:
  void Unrealise();
  static LRESULT CALLBACK SubclassProc(HWND AWindow, UINT AMessage, WPARAM W, LPARAM L,
                                       UINT_PTR /*AId*/, DWORD_PTR AData) {
    auto* self = reinterpret_cast<TWin32Control*>(AData);
    if (AMessage == WM_NCDESTROY) {
      SetWindowLongPtrW(AWindow, GWLP_USERDATA, 0);
      RemoveWindowSubclass(AWindow, &SubclassProc, 1);
      return DefSubclassProc(AWindow, AMessage, W, L);
    }
    if (Of(AWindow) == nullptr) return DefSubclassProc(AWindow, AMessage, W, L);
    // Nothing thrown may unwind through the system's frames: it is kept and the loop ends.
    try {
      if (AMessage == kRunPosted) {
        if (!self->FPosted.empty()) {
          auto call = std::move(self->FPosted.front());
          self->FPosted.pop_front();
          call();
        }
        return 0;
      }
      self->BeforeMessage(AMessage);
    } catch (...) {
      KeepFailure(self->FParent, std::current_exception());
      return 0;
    }
    return DefSubclassProc(AWindow, AMessage, W, L);
  }

  TPeerEvents& FEvents;
  const wchar_t* FClass;
  DWORD FStyle;
  TRect FBounds{};
  bool FVisible = false;
  bool FTabStop = false;
  std::wstring FText;
  DWORD FMadeWith = 0;  // the creation style the native control was made with
  int FId = 0;
  // Declared before the window: the window goes first, and with it every message to it.
  TFontHandle FFont;
  std::deque<std::function<void()>> FPosted;
  COLORREF FTextColor = GetSysColor(COLOR_WINDOWTEXT);
  TWin32FormPeer* FParent = nullptr;
  TWindowHandle FWindow;
};

// The interface of a kind and the shared window code, joined.
template <class Base>
class TWin32ControlPeer : public Base, public TWin32Control {
 public:
  TWin32ControlPeer(TPeerEvents& AEvents, const wchar_t* AClass, DWORD AStyle)
      : TWin32Control(AEvents, AClass, AStyle) {}
  void SetBounds(const TRect& r) override { DoSetBounds(r); }
  void SetVisible(bool AValue) override { DoSetVisible(AValue); }
  void SetFont(const TFontData& AFont) override { DoSetFont(AFont); }
  void SetTabStop(bool AValue) override { DoSetTabStop(AValue); }
  void SetParent(TFormPeer* AParent) override { DoSetParent(AParent); }
  void SetFocus() override { DoSetFocus(); }
  void Invalidate() override { DoInvalidate(); }
  void PaintNow() override { DoPaintNow(); }
  void Post(std::function<void()> ACall) override { DoPost(std::move(ACall)); }
  void Realise() override { DoRealise(); }
};

TWin32Control& ControlOf(TControlPeer& APeer) {
  return dynamic_cast<TWin32Control&>(APeer);
}

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
    FColor = ToColorRef(AValue);
    FBrush.reset(CreateSolidBrush(FColor));
    InvalidateRect(Handle(), nullptr, TRUE);
  }
  void SetFont(const TFontData& /*AFont*/) override {
    // The form draws no text of its own; its controls are given their fonts one by one.
  }
  void SetBorder(TFormBorderStyle AStyle, std::uint8_t AIcons) override {
    FStyle = AStyle;
    FIcons = AIcons;
    const LONG_PTR keep =
        GetWindowLongPtrW(Handle(), GWL_STYLE) & (WS_VISIBLE | WS_MAXIMIZE | WS_MINIMIZE);
    SetWindowLongPtrW(Handle(), GWL_STYLE, static_cast<LONG_PTR>(StyleFor(AStyle, AIcons)) | keep);
    SetWindowLongPtrW(Handle(), GWL_EXSTYLE,
                      AStyle == TFormBorderStyle::bsDialog ? WS_EX_DLGMODALFRAME : 0);
    ResizeToClient();
  }
  void SetClientSize(int AWidth, int AHeight, bool AFixed, bool AResize) override {
    FWidth = AWidth;
    FHeight = AHeight;
    if (AFixed || AResize) ResizeToClient();
  }
  void Show(TWindowState AState) override {
    ShowWindow(Handle(), AState == TWindowState::wsMaximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    UpdateWindow(Handle());
    FocusRemembered();
  }
  void SetWindowState(TWindowState AState) override {
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
  bool IsMaximized() const override { return IsZoomed(Handle()) != FALSE; }
  void Close() override {
    ShowWindow(Handle(), SW_HIDE);
    // The program has one window: closing it ends the message loop.
    PostQuitMessage(0);
  }
  bool IsVisible() const override { return IsWindowVisible(Handle()) != FALSE; }
  void SetTabOrder(const std::vector<TControlPeer*>& AControls) override {
    // Focus moves through child windows in their order from the top.
    HWND after = HWND_TOP;
    for (TControlPeer* p : AControls) {
      const HWND w = ControlOf(*p).Handle();
      SetWindowPos(w, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      after = w;
    }
  }
  std::optional<TRect> ScreenWorkArea() const override {
    RECT r;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0)) return std::nullopt;
    return TRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
  }
  int ScreenPixelsPerInch() const override {
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
  double ScreenRefreshRate() const override {
    // 0 and 1 stand for the hardware's default rate.
    const int hz = ScreenCaps(VREFRESH);
    return hz > 1 ? hz : 0.0;
  }
  void PaintNow() override {
    FEvents.PeerBeforePaint();
    RedrawWindow(Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    // A handler that runs for long paints through here and never returns to the event loop:
    // looking at the queue, without taking anything from it, tells the system the window still
    // answers, so it is not replaced by a "(Not Responding)" ghost that hides these repaints
    // and offers to close the program. Clicks and keys stay queued; none runs mid-handler.
    MSG waiting;
    PeekMessageW(&waiting, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD);
  }
  std::optional<std::pair<int, int>> OuterSize() const override {
    RECT r{0, 0, FWidth, FHeight};
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE));
    if (!AdjustWindowRectEx(&r, style, FALSE, exStyle)) return std::nullopt;
    return std::pair<int, int>{r.right - r.left, r.bottom - r.top};
  }
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
  static DWORD StyleFor(TFormBorderStyle AStyle, std::uint8_t AIcons) {
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

  static int ScreenCaps(int AIndex) {
    const HDC dc = GetDC(nullptr);
    if (dc == nullptr) return 0;
    const int value = GetDeviceCaps(dc, AIndex);
    ReleaseDC(nullptr, dc);
    return value;
  }

  // Sizes the outer window so that its client area is the size stored.
  void ResizeToClient() {
    if (IsZoomed(Handle()) || IsIconic(Handle())) return;
    RECT client;
    GetClientRect(Handle(), &client);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE));
    RECT r{0, 0, FWidth, FHeight};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    SetWindowPos(Handle(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }

  static void RegisterClassOnce() {
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

  static LRESULT CALLBACK WindowProc(HWND AWindow, UINT AMessage, WPARAM W, LPARAM L) {
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

  std::optional<LRESULT> OnMessage(UINT AMessage, WPARAM W, LPARAM L) {
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
      case WM_DPICHANGED: {
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

  HBRUSH Brush() const { return FBrush ? FBrush.get() : GetSysColorBrush(COLOR_BTNFACE); }

  TPeerEvents& FEvents;
  TBrushHandle FBrush;
  COLORREF FColor = GetSysColor(COLOR_BTNFACE);
  TFormBorderStyle FStyle = TFormBorderStyle::bsSizeable;
  std::uint8_t FIcons = 0x07;
  int FWidth = 0, FHeight = 0;
  HWND FFocus = nullptr;
  std::exception_ptr FFailure;
  // Ids from 100 on: the low ones are the dialog manager's (IDOK, IDCANCEL, ...).
  int FNextId = 100;
  TWindowHandle FWindow;
};

void KeepFailure(TWin32FormPeer* AForm, std::exception_ptr AFailure) noexcept {
  if (AForm != nullptr) {
    AForm->KeepFailure(std::move(AFailure));
    return;
  }
  // A control's window always has a form: anything else is a fault of this file.
  std::terminate();
}

void TWin32Control::DoSetParent(TFormPeer* AParent) {
  auto* form = static_cast<TWin32FormPeer*>(AParent);
  if (form == FParent) return;
  // A control keeps notifying the window it was made under: one moved is made anew.
  Unrealise();
  FParent = form;
  FId = 0;
}

void TWin32Control::Unrealise() {
  if (Handle() == nullptr) return;
  KeepState();
  const int length = GetWindowTextLengthW(Handle());
  FText.assign(static_cast<std::size_t>(length) + 1, L'\0');
  FText.resize(static_cast<std::size_t>(GetWindowTextW(Handle(), FText.data(), length + 1)));
  FWindow.reset();
}

void TWin32Control::DoRealise() {
  if (FParent == nullptr) return;
  const DWORD creation = CreationStyle();
  if (Handle() != nullptr && creation == FMadeWith) return;
  HWND after = HWND_TOP;
  bool focused = false, remembered = false;
  if (Handle() != nullptr) {
    // Made anew in the same place of the tab order, with the focus if it had it.
    after = GetWindow(Handle(), GW_HWNDPREV);
    if (after == nullptr) after = HWND_TOP;
    focused = GetFocus() == Handle();
    remembered = FParent->RememberedFocus() == Handle();
    Unrealise();
  }
  if (FId == 0) FId = FParent->NextControlId();
  const DWORD style =
      WS_CHILD | FStyle | creation | (FVisible ? WS_VISIBLE : 0) | (FTabStop ? WS_TABSTOP : 0);
  FWindow.reset(CreateWindowExW(ExStyle(), FClass, FText.c_str(), style, FBounds.Left, FBounds.Top,
                                FBounds.Width, FBounds.Height, FParent->Handle(),
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(FId)), Instance(),
                                nullptr));
  if (Handle() == nullptr)
    throw Exception("Cannot create a control window (system error " +
                    std::to_string(GetLastError()) + ")");
  FMadeWith = creation;
  SetWindowLongPtrW(Handle(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowSubclass(Handle(), &SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
  if (FFont) SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(FFont.get()), FALSE);
  SetWindowPos(Handle(), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  RestoreState();
  // The calls posted to the window that went are posted anew.
  for (std::size_t i = 0; i < FPosted.size(); ++i) PostMessageW(Handle(), kRunPosted, 0, 0);
  if (remembered || focused) FParent->RememberFocus(Handle());
  if (focused) ::SetFocus(Handle());
}

void TWin32Control::DoSetFocus() {
  if (FParent == nullptr || Handle() == nullptr) return;
  // Focus given before the window is shown takes effect when it opens.
  FParent->RememberFocus(Handle());
  if (FParent->IsVisible()) ::SetFocus(Handle());
}

class TWin32LabelPeer final : public TWin32ControlPeer<TLabelPeer> {
 public:
  // No prefix: the label is given its text with the ampersand rule already applied.
  explicit TWin32LabelPeer(TPeerEvents& AEvents)
      : TWin32ControlPeer(AEvents, L"STATIC", SS_LEFT | SS_NOPREFIX) {}
  void SetText(const std::string& AText) override { DoSetText(Wide(AText)); }
  std::pair<int, int> TextExtent(const std::string& AText) const override {
    // A label not yet on a window measures on the screen, as it will draw there.
    const HDC dc = GetDC(Handle());
    if (dc == nullptr) return {0, 0};
    const HGDIOBJ old =
        SelectObject(dc, Font() ? static_cast<HGDIOBJ>(Font()) : GetStockObject(DEFAULT_GUI_FONT));
    const std::wstring text = Wide(AText);
    SIZE size{0, 0};
    if (!text.empty())
      GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(Handle(), dc);
    // An empty label keeps the height of one line.
    return {size.cx, metrics.tmHeight};
  }
};

class TWin32ButtonPeer final : public TWin32ControlPeer<TButtonPeer> {
 public:
  explicit TWin32ButtonPeer(TPeerEvents& AEvents)
      : TWin32ControlPeer(AEvents, L"BUTTON", BS_PUSHBUTTON) {}
  // The button draws the ampersand rule itself.
  void SetText(const std::string& AText) override { DoSetText(Wide(AText)); }

 protected:
  void BeforeMessage(UINT AMessage) override {
    // The focused button is the default one: it shows the default frame and Enter presses it,
    // as in every dialog.
    if (AMessage == WM_SETFOCUS)
      SendMessageW(Handle(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    else if (AMessage == WM_KILLFOCUS)
      SendMessageW(Handle(), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  }
};

class TWin32MemoPeer final : public TWin32ControlPeer<TMemoPeer> {
 public:
  explicit TWin32MemoPeer(TPeerEvents& AEvents)
      : TWin32ControlPeer(AEvents, L"EDIT",
                          ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL) {}
  void SetScrollBars(bool AVertical, bool AHorizontal) override {
    FVertical = AVertical;
    FHorizontal = AHorizontal;
    DoRealise();
  }
  void SetWordWrap(bool AValue) override {
    FWordWrap = AValue;
    DoRealise();
  }
  void SetReadOnly(bool AValue) override {
    FReadOnly = AValue;
    if (Handle() != nullptr) SendMessageW(Handle(), EM_SETREADONLY, AValue, 0);
  }
  bool IsEmpty() const override {
    return !FHasPending &&
           (Handle() != nullptr ? GetWindowTextLengthW(Handle()) == 0 : StoredText().empty());
  }
  void AddLine(const std::string& ALine) override {
    if (FHasPending) FPending += L"\r\n";
    FHasPending = true;
    FPending += Wide(ALine);
  }
  void BringUpToDate() override { FlushPending(); }
  std::vector<std::string> Lines() const override {
    FlushPending();
    std::wstring text = StoredText();
    if (Handle() != nullptr) {
      const int length = GetWindowTextLengthW(Handle());
      text.assign(static_cast<std::size_t>(length) + 1, L'\0');
      text.resize(static_cast<std::size_t>(GetWindowTextW(Handle(), text.data(), length + 1)));
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = text.find(L"\r\n", start);
      lines.push_back(Narrow(std::wstring_view(text).substr(start, end - start)));
      if (end == std::wstring::npos) break;
      start = end + 2;
    }
    return lines;
  }
  void Clear() override {
    FPending.clear();
    FHasPending = false;
    DoSetText(L"");
  }

 protected:
  // An edit control reads its scroll bars and whether it wraps (it does unless it scrolls
  // sideways by itself) only when it is made.
  DWORD CreationStyle() const override {
    return (FVertical ? WS_VSCROLL : 0) | (FHorizontal ? WS_HSCROLL : 0) |
           (FWordWrap ? 0 : ES_AUTOHSCROLL);
  }
  DWORD ExStyle() const override { return WS_EX_CLIENTEDGE; }
  void KeepState() override {
    SendMessageW(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&FSelStart),
                 reinterpret_cast<LPARAM>(&FSelEnd));
    FFirstLine = SendMessageW(Handle(), EM_GETFIRSTVISIBLELINE, 0, 0);
  }
  void RestoreState() override {
    // The default limit is 32K characters, far less than a long pass logs.
    SendMessageW(Handle(), EM_SETLIMITTEXT, 0, 0);
    SendMessageW(Handle(), EM_SETREADONLY, FReadOnly, 0);
    if (StoredText().empty()) return;
    SetWindowTextW(Handle(), StoredText().c_str());
    SendMessageW(Handle(), EM_SETSEL, FSelStart, FSelEnd);
    const auto nowFirst = SendMessageW(Handle(), EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(Handle(), EM_LINESCROLL, 0, FFirstLine - nowFirst);
  }
  void BeforeMessage(UINT AMessage) override {
    // Held-back lines go in before a person's key, click or the box's focus reaches it, so
    // what a person edits is always the whole log.
    if ((AMessage >= WM_KEYFIRST && AMessage <= WM_KEYLAST) ||
        (AMessage >= WM_MOUSEFIRST && AMessage <= WM_MOUSELAST) || AMessage == WM_SETFOCUS ||
        AMessage == WM_VSCROLL)
      FlushPending();
  }

 private:
  // Puts the lines added since the last time at the end, in one edit; the box follows the end
  // only while the end is in view, and a person's selection stays where it was.
  void FlushPending() const {
    if (!FHasPending) return;
    std::wstring text;
    text.swap(FPending);
    FHasPending = false;
    if (Handle() == nullptr) {
      auto& stored = const_cast<TWin32MemoPeer*>(this)->StoredText();
      if (!stored.empty()) stored += L"\r\n";
      stored += text;
      return;
    }
    SCROLLINFO bar{};
    bar.cbSize = sizeof bar;
    bar.fMask = SIF_ALL;
    const bool hasBar = GetScrollInfo(Handle(), SB_VERT, &bar) != FALSE;
    const bool followEnd =
        !hasBar || bar.nPos + static_cast<int>(bar.nPage) >= bar.nMax || bar.nMax <= 0;
    const auto firstLine = SendMessageW(Handle(), EM_GETFIRSTVISIBLELINE, 0, 0);
    DWORD selStart = 0, selEnd = 0;
    SendMessageW(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
                 reinterpret_cast<LPARAM>(&selEnd));
    const int length = GetWindowTextLengthW(Handle());
    if (length > 0) text.insert(0, L"\r\n");
    SendMessageW(Handle(), EM_SETSEL, length, length);
    SendMessageW(Handle(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    if (followEnd) return;
    SendMessageW(Handle(), EM_SETSEL, selStart, selEnd);
    const auto nowFirst = SendMessageW(Handle(), EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(Handle(), EM_LINESCROLL, 0, firstLine - nowFirst);
  }

  bool FVertical = false, FHorizontal = false, FWordWrap = true, FReadOnly = false;
  DWORD FSelStart = 0, FSelEnd = 0;
  LRESULT FFirstLine = 0;
  mutable std::wstring FPending;
  mutable bool FHasPending = false;
};

class TWin32ProgressBarPeer final : public TWin32ControlPeer<TProgressBarPeer> {
 public:
  explicit TWin32ProgressBarPeer(TPeerEvents& AEvents)
      : TWin32ControlPeer(AEvents, PROGRESS_CLASSW, 0) {}
  void SetState(int AMin, int AMax, int APosition) override {
    if (AMin == FMin && AMax == FMax && APosition == FPosition) return;
    const bool range = AMin != FMin || AMax != FMax;
    FMin = AMin;
    FMax = AMax;
    FPosition = APosition;
    if (Handle() == nullptr) return;
    if (range) SendMessageW(Handle(), PBM_SETRANGE32, AMin, AMax);
    SendMessageW(Handle(), PBM_SETPOS, static_cast<WPARAM>(APosition), 0);
  }

 protected:
  void RestoreState() override {
    SendMessageW(Handle(), PBM_SETRANGE32, FMin, FMax);
    SendMessageW(Handle(), PBM_SETPOS, static_cast<WPARAM>(FPosition), 0);
  }

 private:
  // The control's own starting state.
  int FMin = 0, FMax = 100, FPosition = 0;
};

class TWin32PeerFactory final : public TPeerFactory {
 public:
  std::unique_ptr<TApplicationPeer> CreateApplication(const char* /*AProgram*/) override {
    return MakeApplication();
  }
  std::unique_ptr<TFormPeer> CreateForm(TPeerEvents& AEvents) override {
    return std::make_unique<TWin32FormPeer>(AEvents);
  }
  std::unique_ptr<TLabelPeer> CreateLabel(TPeerEvents& AEvents) override {
    return std::make_unique<TWin32LabelPeer>(AEvents);
  }
  std::unique_ptr<TButtonPeer> CreateButton(TPeerEvents& AEvents) override {
    return std::make_unique<TWin32ButtonPeer>(AEvents);
  }
  std::unique_ptr<TMemoPeer> CreateMemo(TPeerEvents& AEvents) override {
    return std::make_unique<TWin32MemoPeer>(AEvents);
  }
  std::unique_ptr<TProgressBarPeer> CreateProgressBar(TPeerEvents& AEvents) override {
    return std::make_unique<TWin32ProgressBarPeer>(AEvents);
  }
};

}  // namespace

HWND win32::FormWindow(TFormPeer& AForm) {
  return static_cast<TWin32FormPeer&>(AForm).Handle();
}

TPeerFactory& ToolkitPeerFactory() {
  static TWin32PeerFactory factory;
  return factory;
}

HWND Win32Handle(const TControl& AControl) {
  return ControlOf(AControl.Peer()).Handle();
}

HWND Win32Window(const TForm& AForm) {
  return static_cast<TWin32FormPeer&>(AForm.Peer()).Handle();
}

}  // namespace bunkmere
