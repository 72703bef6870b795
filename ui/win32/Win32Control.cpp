#include "ui/win32/Win32Control.h"

#include "core/Exceptions.h"
#include "ui/win32/Win32Form.h"
// After windows.h, which it needs.
#include <commctrl.h>

namespace bunkmere::win32 {

TWin32Control& ControlOf(TControlPeer& APeer) {
  return dynamic_cast<TWin32Control&>(APeer);
}

LRESULT CALLBACK TWin32Control::SubclassProc(HWND AWindow, UINT AMessage, WPARAM W, LPARAM L,
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
    // A control's window always has a form: anything else is a fault of this backend.
    if (self->FParent == nullptr) std::terminate();
    self->FParent->KeepFailure(std::current_exception());
    return 0;
  }
  return DefSubclassProc(AWindow, AMessage, W, L);
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

}  // namespace bunkmere::win32
