#pragma once
// A window laid out like the main window, built in code: the status label, the start button,
// the progress bar, the log box and Save Log, with the main window's bounds, anchors and tab
// order. Each backend's tests add what they look at (captions, fonts, position) and decide
// when it is loaded and shown. Toolkit-free: the same layout on every backend.

#include "ui/Form.h"
#include "ui/ProgressBar.h"
#include "ui/StdCtrls.h"

namespace bunkmere::testing {

struct TTestWindow {
  TTestWindow() {
    using enum TAnchorKind;
    form.SetClientWidth(674);
    form.SetClientHeight(420);
    form.SetBorderStyle(TFormBorderStyle::bsSingle);
    // The form owns and frees its controls.
    label = new TLabel(&form);
    label->SetParent(&form);
    label->SetBounds(33, 43, 48, 13);
    start = new TButton(&form);
    start->SetParent(&form);
    start->SetBounds(220, 78, 237, 25);
    start->SetAnchors({akTop});
    start->SetTabOrder(0);
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
  }
  TTestWindow(const TTestWindow&) = delete;
  TTestWindow& operator=(const TTestWindow&) = delete;

  TForm form{nullptr};
  TLabel* label;
  TButton* start;
  TProgressBar* bar;
  TMemo* memo;
  TButton* save;
};

}  // namespace bunkmere::testing
