#pragma once
// The dialog manager's keys on a window that is not a dialog: Tab and Shift+Tab move the focus
// through the tab stops in their order (the windows' order from the top), Enter presses the
// focused push button, Alt+letter presses the button whose caption marks that letter with "&".
// Space is the button's own. Esc does nothing: the window has no Cancel button.

#include <windows.h>

#include <string_view>

namespace bunkmere::win32 {

// For a message to a window of class AWindowClass or one of its controls; true when it was
// one of these keys and was handled.
bool HandleDialogKey(const MSG& AMessage, std::wstring_view AWindowClass);

}  // namespace bunkmere::win32
