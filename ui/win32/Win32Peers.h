#pragma once
// The Win32 peers' windows, for tests that look at what the system shows (a style, a font,
// the text of an edit control). The program itself never reaches past the peers.

#include <windows.h>

namespace bunkmere {

class TControl;
class TForm;

HWND Win32Handle(const TControl& AControl);
HWND Win32Window(const TForm& AForm);

}  // namespace bunkmere
