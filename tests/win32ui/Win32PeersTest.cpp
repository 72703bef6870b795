// The window's controls on their Win32 peers: what the system reports about the native
// windows after the controls were set up as the main window's description sets them up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/Form.h"
#include "ui/ProgressBar.h"
#include "ui/StdCtrls.h"
// After the controls' headers, whose constants windows.h's macros would take.
#include "ui/win32/Win32Peers.h"
// After windows.h, which it needs.
#include <commctrl.h>

namespace bunkmere {
namespace {

using enum TAnchorKind;

std::wstring TextOf(HWND AWindow) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(AWindow)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(AWindow, text.data(), static_cast<int>(text.size()))));
  return text;
}

LONG_PTR StyleOf(HWND AWindow) {
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

TEST(Win32Window, FixedSingleBorderWithSystemMenuAndBothBoxesCentredOnTheWorkArea) {
  SmallWindow w;
  const HWND window = Win32Window(w.form);
  const LONG_PTR style = StyleOf(window);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
            WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
  EXPECT_EQ(style & WS_THICKFRAME, 0) << "a single border cannot be dragged";
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 674);
  EXPECT_EQ(client.bottom, 420);

  w.form.Show();
  RECT area, outer;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  GetWindowRect(window, &outer);
  // The whole window is centred, its frame and title bar with it.
  EXPECT_GT(outer.right - outer.left, 674);
  EXPECT_GT(outer.bottom - outer.top, 420);
  EXPECT_EQ(outer.left, area.left + (area.right - area.left - (outer.right - outer.left)) / 2);
  EXPECT_EQ(outer.top, area.top + (area.bottom - area.top - (outer.bottom - outer.top)) / 2);
  EXPECT_TRUE(w.form.Showing());
  w.form.Close();
  EXPECT_FALSE(w.form.Showing());
}

TEST(Win32Window, MaximisingMovesAnchoredControlsAndRestoringPutsThemBack) {
  SmallWindow w;
  w.form.Show();
  const HWND window = Win32Window(w.form);
  ShowWindow(window, SW_MAXIMIZE);
  EXPECT_EQ(w.form.WindowState(), TWindowState::wsMaximized);
  RECT client;
  GetClientRect(window, &client);
  // Anchored right: keeps its distance from the right edge.
  EXPECT_EQ(w.save->Left(), client.right - (674 - 592));
  RECT r;
  GetWindowRect(Win32Handle(*w.save), &r);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, w.save->Left());
  ShowWindow(window, SW_RESTORE);
  EXPECT_EQ(w.form.WindowState(), TWindowState::wsNormal);
  EXPECT_EQ(w.save->Left(), 592);
  EXPECT_EQ(w.form.ClientWidth(), 674);
}

TEST(Win32Controls, LabelsDrawTheirCaptionAfterTheAmpersandRuleAndSizeToIt) {
  SmallWindow w;
  const HWND label = Win32Handle(*w.label);
  EXPECT_NE(StyleOf(label) & SS_NOPREFIX, 0);
  struct Case {
    const char* Caption;
    const wchar_t* Shown;
  } cases[] = {{"Save && &Load", L"Save & Load"}, {"[XXXXXX]", L"[XXXXXX]"}, {"", L""}};
  int lineHeight = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Caption);
    w.label->SetCaption(c.Caption);
    EXPECT_EQ(TextOf(label), c.Shown);
    RECT r;
    GetClientRect(label, &r);
    EXPECT_EQ(r.right, w.label->Width());
    EXPECT_EQ(r.bottom, w.label->Height());
    // An empty label keeps the height of a line.
    EXPECT_GT(w.label->Height(), 0);
    if (lineHeight == 0) lineHeight = w.label->Height();
    EXPECT_EQ(w.label->Height(), lineHeight);
    EXPECT_EQ(w.label->Width() == 0, std::wstring(c.Shown).empty());
  }
  w.label->SetCaption("a much longer caption than the others");
  const int longWidth = w.label->Width();
  w.label->SetCaption("short");
  EXPECT_LT(w.label->Width(), longWidth);
}

TEST(Win32Controls, ButtonsKeepTheirAccessKeyAndTheirOwnBoldFont) {
  SmallWindow w;
  EXPECT_EQ(TextOf(Win32Handle(*w.start)), L"&Start");
  auto weight = [](const TButton& AButton) {
    const auto font = reinterpret_cast<HFONT>(SendMessageW(Win32Handle(AButton), WM_GETFONT, 0, 0));
    LOGFONTW lf{};
    GetObjectW(font, sizeof lf, &lf);
    return lf.lfWeight;
  };
  EXPECT_EQ(weight(*w.start), FW_BOLD);
  EXPECT_EQ(weight(*w.save), FW_NORMAL);
}

TEST(Win32Controls, AClickReachesTheHandlerThroughTheWindow) {
  SmallWindow w;
  int clicks = 0;
  w.save->SetOnClick([&](TComponent* ASender) {
    EXPECT_EQ(ASender, w.save);
    ++clicks;
  });
  SendMessageW(Win32Window(w.form), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
               reinterpret_cast<LPARAM>(Win32Handle(*w.save)));
  EXPECT_EQ(clicks, 1);
}

TEST(Win32Controls, TabGoesFromTheStartButtonThroughTheLogToSaveLog) {
  SmallWindow w;
  const HWND window = Win32Window(w.form);
  const HWND start = Win32Handle(*w.start), memo = Win32Handle(*w.memo),
             save = Win32Handle(*w.save);
  EXPECT_EQ(GetNextDlgTabItem(window, start, FALSE), memo);
  EXPECT_EQ(GetNextDlgTabItem(window, memo, FALSE), save);
  EXPECT_EQ(GetNextDlgTabItem(window, save, FALSE), start);
  EXPECT_EQ(StyleOf(Win32Handle(*w.label)) & WS_TABSTOP, 0);
  EXPECT_EQ(StyleOf(Win32Handle(*w.bar)) & WS_TABSTOP, 0);
}

TEST(Win32Controls, TheLogHoldsMoreThanAnEditControlsDefaultLimit) {
  SmallWindow w;
  const HWND memo = Win32Handle(*w.memo);
  EXPECT_NE(StyleOf(memo) & WS_VSCROLL, 0);
  EXPECT_NE(StyleOf(memo) & ES_MULTILINE, 0);
  // An empty line added to an empty log leaves it empty.
  w.memo->Add("");
  EXPECT_TRUE(w.memo->Lines().empty());
  std::vector<std::string> lines;
  for (int i = 0; i < 3000; ++i)
    lines.push_back("Facility :Main Jail CellNo : A-" + std::to_string(i) + " \xC3\xA9");
  for (const auto& l : lines) w.memo->Add(l);
  // A last empty line (the log ending in a line break) is not a line.
  w.memo->Add("");
  EXPECT_EQ(w.memo->Lines(), lines);
  EXPECT_GT(GetWindowTextLengthW(memo), 32767);
  w.memo->Clear();
  EXPECT_TRUE(w.memo->Lines().empty());
  EXPECT_EQ(GetWindowTextLengthW(memo), 0);
}

TEST(Win32Controls, TheProgressBarShowsItsRangeAndPosition) {
  SmallWindow w;
  w.bar->SetMax(10);
  w.bar->SetPosition(5);
  const HWND bar = Win32Handle(*w.bar);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 5);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 10);
  w.bar->StepBy(7);  // past the maximum: starts over
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), w.bar->Position());
}

TEST(Win32Controls, AControlFreedBeforeItsPostedCallTakesTheCallWithIt) {
  SmallWindow w;
  w.memo->Add("a line held back until the window is brought up to date");
  const HWND memo = Win32Handle(*w.memo);
  delete w.memo;
  EXPECT_FALSE(IsWindow(memo));
  // The posted call went with the window; running the queue must not reach the freed memo.
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  EXPECT_EQ(w.form.Controls().size(), 4u);
}

}  // namespace
}  // namespace bunkmere
