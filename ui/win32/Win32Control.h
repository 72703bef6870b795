#pragma once
// What every Win32 control peer shares: the standard control behind it, made when its parent
// and creation-only styles are known, and the calls posted to it. The kinds are in
// Win32Controls.cpp and Win32Memo.cpp; the window they sit on in Win32Form.h.
//
// Every control window keeps its peer in its user data and clears it on WM_NCDESTROY, so no
// message that arrives while a window is torn down reaches a peer that is gone.

// Before windows.h, whose macros would take the names of the controls' own constants.
#include "ui/Peers.h"
#include "ui/win32/Win32Support.h"

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace bunkmere::win32 {

// Runs the calls posted to a control, one per message.
inline constexpr UINT kRunPosted = WM_APP + 1;

class TWin32FormPeer;

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
  // Read when the control draws: a system colour follows the desktop's.
  COLORREF TextColor() const { return ToColorRef(FTextColor); }
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
    FFontData = AFont;
    FTextColor = AFont.Color;
    ApplyFont();
  }
  // Text the control is to show: the font changes to a face that draws every character
  // when the text needs one the stored face lacks, and stays so.
  void NoteText(std::wstring_view AText) {
    if (FOtherCharacters || !OutsideAnsiCodePage(AText)) return;
    FOtherCharacters = true;
    if (FFont) ApplyFont();
  }
  void DoSetTabStop(bool AValue) {
    FTabStop = AValue;
    if (Handle() == nullptr) return;
    const LONG_PTR style = GetWindowLongPtrW(Handle(), GWL_STYLE);
    SetWindowLongPtrW(Handle(), GWL_STYLE, AValue ? style | WS_TABSTOP : style & ~WS_TABSTOP);
  }
  void DoSetText(std::wstring AText) {
    NoteText(AText);
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
  void ApplyFont() {
    TFontHandle font = MakeFont(FFontData, FOtherCharacters);
    if (Handle() != nullptr)
      SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    // The control drew with the old font until now: it goes only after the new one is in.
    FFont = std::move(font);
  }
  static LRESULT CALLBACK SubclassProc(HWND AWindow, UINT AMessage, WPARAM W, LPARAM L,
                                       UINT_PTR AId, DWORD_PTR AData);

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
  TFontData FFontData;
  bool FOtherCharacters = false;
  std::deque<std::function<void()>> FPosted;
  TColor FTextColor = clWindowText;
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

TWin32Control& ControlOf(TControlPeer& APeer);

// The kinds of control, each in its own file.
std::unique_ptr<TLabelPeer> MakeLabelPeer(TPeerEvents& AEvents);
std::unique_ptr<TButtonPeer> MakeButtonPeer(TPeerEvents& AEvents);
std::unique_ptr<TMemoPeer> MakeMemoPeer(TPeerEvents& AEvents);
std::unique_ptr<TProgressBarPeer> MakeProgressBarPeer(TPeerEvents& AEvents);

}  // namespace bunkmere::win32
