#include "ui/win32/DialogKeys.h"

#include <string>

namespace bunkmere::win32 {
namespace {

// The character a caption's single ampersand marks as its access key, or 0.
wchar_t AccessKey(std::wstring_view ACaption) {
  for (std::size_t i = 0; i + 1 < ACaption.size(); ++i) {
    if (ACaption[i] != L'&') continue;
    if (ACaption[i + 1] != L'&') return ACaption[i + 1];
    ++i;  // "&&" draws one ampersand
  }
  return 0;
}

wchar_t Upper(wchar_t AChar) {
  wchar_t text[2] = {AChar, 0};
  CharUpperBuffW(text, 1);
  return text[0];
}

}  // namespace

bool HandleDialogKey(const MSG& AMessage, std::wstring_view AWindowClass) {
  const bool keyDown = AMessage.message == WM_KEYDOWN;
  const bool escape = (keyDown || AMessage.message == WM_KEYUP) && AMessage.wParam == VK_ESCAPE;
  // Access keys and the focus rectangle, hidden until the keyboard is used (where the person
  // has chosen so), show from the first Tab or Alt on.
  if ((keyDown && AMessage.wParam == VK_TAB) ||
      (AMessage.message == WM_SYSKEYDOWN && AMessage.wParam == VK_MENU) ||
      AMessage.message == WM_SYSCHAR) {
    // Nothing changes, and nothing is drawn again, once they show.
    if (const HWND top = GetAncestor(AMessage.hwnd, GA_ROOT); top != nullptr)
      SendMessageW(top, WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL | UISF_HIDEFOCUS),
                   0);
  }
  if (!(keyDown && (AMessage.wParam == VK_TAB || AMessage.wParam == VK_RETURN)) &&
      AMessage.message != WM_SYSCHAR && !escape)
    return false;
  const HWND root = GetAncestor(AMessage.hwnd, GA_ROOT);
  if (root == nullptr) return false;
  wchar_t name[32] = {};
  GetClassNameW(root, name, 32);
  if (std::wstring_view(name) != AWindowClass) return false;

  // The window has no Cancel button, so Esc is nobody's: a multi-line edit that has been
  // asked for its dialog code takes itself for a dialog's and would close the window with it.
  // Closing is the close box's, Alt+F4's and the system menu's.
  if (escape) return true;
  if (keyDown && AMessage.wParam == VK_TAB) {
    if (root == AMessage.hwnd || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0)
      return false;
    const HWND next = GetNextDlgTabItem(root, AMessage.hwnd, GetKeyState(VK_SHIFT) < 0);
    if (next != nullptr) SetFocus(next);
    return true;
  }
  const auto click = [root](HWND AButton) {
    SendMessageW(root, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(AButton), BN_CLICKED),
                 reinterpret_cast<LPARAM>(AButton));
  };
  if (keyDown) {  // Enter: only a focused push button takes it; the log keeps its new lines
    const HWND focus = GetFocus();
    if (focus == nullptr || GetParent(focus) != root) return false;
    // A query, without the message: the log is not to take itself for a dialog's edit.
    const auto code = SendMessageW(focus, WM_GETDLGCODE, AMessage.wParam, 0);
    if ((code & DLGC_DEFPUSHBUTTON) == 0) return false;
    click(focus);
    return true;
  }
  // Alt+letter.
  const wchar_t key = Upper(static_cast<wchar_t>(AMessage.wParam));
  for (HWND child = GetWindow(root, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child) || !IsWindowEnabled(child)) continue;
    const auto code = SendMessageW(child, WM_GETDLGCODE, 0, 0);
    if ((code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) == 0) continue;
    const int length = GetWindowTextLengthW(child);
    std::wstring caption(static_cast<std::size_t>(length) + 1, L'\0');
    caption.resize(static_cast<std::size_t>(GetWindowTextW(child, caption.data(), length + 1)));
    const wchar_t mark = AccessKey(caption);
    if (mark == 0 || Upper(mark) != key) continue;
    click(child);
    return true;
  }
  return false;
}

}  // namespace bunkmere::win32
