#pragma once
// What the Win32 peers' tests share: a window laid out like the main window, built in code,
// the native windows' text and style, boxes answered by the test, and the event loop run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/TestWindow.h"
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/Graphics.h"
#include "ui/ProgressBar.h"
#include "ui/StdCtrls.h"
// After the controls' headers, whose constants windows.h's macros would take.
#include "ui/win32/Win32Peers.h"

namespace bunkmere::win32test {

using enum TAnchorKind;

inline std::wstring TextOf(HWND AWindow) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(AWindow)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(AWindow, text.data(), static_cast<int>(text.size()))));
  return text;
}

inline LONG_PTR StyleOf(HWND AWindow) {
  return GetWindowLongPtrW(AWindow, GWL_STYLE);
}

// The main window's layout, centred, its start button bold with an access key, loaded.
struct SmallWindow : bunkmere::testing::TTestWindow {
  SmallWindow() {
    form.SetPosition(TPosition::poScreenCenter);
    TFontData bold;
    bold.Style.Include(TFontStyle::fsBold);
    start->SetFont(bold);
    start->SetCaption("&Start");
    form.Loaded();
  }
};

// Boxes a test answers: each is written down, none waits for a person.
struct AnsweredBoxes final : TMessageBoxes {
  void Show(const std::string& ACaption, const std::string& AText, TMsgDlgType) override {
    Shown.push_back(ACaption + "|" + AText);
  }
  std::vector<std::string> Shown;
};

// Runs what the event loop has waiting, through the program's own dispatch.
inline void RunQueued() {
  Application().ProcessMessages();
}

}  // namespace bunkmere::win32test
