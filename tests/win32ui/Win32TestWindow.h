#pragma once
// What the Win32 peers' tests share: a window laid out like the main window, built in code,
// the native windows' text and style, boxes answered by the test, and the event loop run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// A window laid out like the main window, built in code.
struct SmallWindow {
  SmallWindow() {
    form.SetClientWidth(674);
    form.SetClientHeight(420);
    form.SetBorderStyle(TFormBorderStyle::bsSingle);
    form.SetPosition(TPosition::poScreenCenter);
    label = new TLabel(&form);
    label->SetParent(&form);
    label->SetBounds(33, 43, 48, 13);
    start = new TButton(&form);
    start->SetParent(&form);
    start->SetBounds(220, 78, 237, 25);
    start->SetAnchors({akTop});
    start->SetTabOrder(0);
    TFontData bold;
    bold.Style.Include(TFontStyle::fsBold);
    start->SetFont(bold);
    start->SetCaption("&Start");
    bar = new TProgressBar(&form);
    bar->SetParent(&form);
    bar->SetBounds(1, 23, 497, 16);
    bar->SetTabOrder(1);
    memo = new TMemo(&form);
    memo->SetParent(&form);
    memo->SetBounds(8, 136, 657, 265);
    memo->SetAnchors({akLeft, akTop, akRight, akBottom});
    memo->SetTabOrder(7);
    memo->SetScrollBars(TScrollStyle::ssVertical);
    save = new TButton(&form);
    save->SetParent(&form);
    save->SetBounds(592, 107, 75, 25);
    save->SetAnchors({akTop, akRight});
    save->SetTabOrder(8);
    save->SetCaption("Save Log");
    form.Loaded();
  }

  TForm form{nullptr};
  TLabel* label;
  TButton* start;
  TProgressBar* bar;
  TMemo* memo;
  TButton* save;
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
