// The window's controls on their Win32 peers: what the system reports about the native
// windows after the controls were set up as the main window's description sets them up.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/Reader.h"
#include "ui/RegisterControls.h"
// After the controls' headers, whose constants windows.h's macros would take.
#include "tests/win32ui/Win32TestWindow.h"
// After windows.h, which it needs.
#include <commctrl.h>

namespace bunkmere {
namespace {

using namespace win32test;

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

TEST(Win32Controls, TheLogIsBornWithTheStylesItsDescriptionStores) {
  RegisterControlClasses();
  struct Case {
    const char* Properties;
    LONG_PTR Present, Absent;
  } cases[] = {
      {"ScrollBars = ssVertical", WS_VSCROLL, WS_HSCROLL | ES_AUTOHSCROLL},
      {"ScrollBars = ssBoth\n WordWrap = False", WS_VSCROLL | WS_HSCROLL | ES_AUTOHSCROLL, 0},
      // Wrapped lines never need a horizontal bar.
      {"ScrollBars = ssBoth", WS_VSCROLL, WS_HSCROLL | ES_AUTOHSCROLL},
      {"WordWrap = False", ES_AUTOHSCROLL, WS_VSCROLL | WS_HSCROLL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Properties);
    TForm form(nullptr);
    ReadComponentDescription(form, std::string("object F: TForm\n ClientWidth = 300\n"
                                               " ClientHeight = 200\n"
                                               " object Memo1: TMemo\n Left = 8\n Top = 8\n"
                                               " Width = 200\n Height = 100\n ") +
                                       c.Properties + "\n end\nend\n");
    auto* memo = dynamic_cast<TMemo*>(form.FindComponent("Memo1"));
    ASSERT_NE(memo, nullptr);
    const HWND edit = Win32Handle(*memo);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(GetParent(edit), Win32Window(form)) << "born on its window, not moved there";
    EXPECT_EQ(StyleOf(edit) & c.Present, c.Present);
    EXPECT_EQ(StyleOf(edit) & c.Absent, 0);
  }
}

TEST(Win32Controls, ALogMadeAnewForAWrapChangeKeepsItsTextIdPlaceAndFocus) {
  SmallWindow w;
  w.form.Show();
  for (int i = 0; i < 60; ++i) w.memo->Add("line " + std::to_string(i));
  const auto lines = w.memo->Lines();
  w.memo->Peer().SetFocus();
  const HWND before = Win32Handle(*w.memo);
  const int id = GetDlgCtrlID(before);
  SendMessageW(before, EM_SETSEL, 5, 9);

  w.memo->SetWordWrap(false);
  const HWND after = Win32Handle(*w.memo);
  EXPECT_FALSE(IsWindow(before));
  EXPECT_NE(StyleOf(after) & ES_AUTOHSCROLL, 0);
  EXPECT_EQ(w.memo->Lines(), lines);
  EXPECT_EQ(GetDlgCtrlID(after), id);
  EXPECT_EQ(GetFocus(), after);
  DWORD selStart = 0, selEnd = 0;
  SendMessageW(after, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
               reinterpret_cast<LPARAM>(&selEnd));
  EXPECT_EQ(selStart, 5u);
  EXPECT_EQ(selEnd, 9u);
  const HWND window = Win32Window(w.form);
  EXPECT_EQ(GetNextDlgTabItem(window, Win32Handle(*w.start), FALSE), after);
  EXPECT_EQ(GetNextDlgTabItem(window, after, FALSE), Win32Handle(*w.save));
  // Lines added now reach the new window.
  w.memo->Add("after the change");
  EXPECT_EQ(w.memo->Lines().back(), "after the change");
}

TEST(Win32Controls, EveryControlHasItsOwnIdOnItsWindow) {
  SmallWindow w;
  const HWND window = Win32Window(w.form);
  std::vector<int> ids;
  for (TControl* c : w.form.Controls()) {
    const HWND h = Win32Handle(*c);
    ASSERT_EQ(GetParent(h), window);
    const int id = GetDlgCtrlID(h);
    EXPECT_GE(id, 100) << "clear of the dialog manager's IDOK and IDCANCEL";
    EXPECT_EQ(GetDlgItem(window, id), h);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 0);
    ids.push_back(id);
  }
  EXPECT_EQ(ids.size(), 5u);
}

TEST(Win32Controls, TheLogFollowsItsEndWhileALongHandlerRepaintsAndStaysWhereAPersonScrolled) {
  SmallWindow w;
  w.form.SetFrameInterval(std::chrono::nanoseconds(0));
  w.form.Show();
  const HWND memo = Win32Handle(*w.memo);
  auto atEnd = [memo] {
    SCROLLINFO bar{};
    bar.cbSize = sizeof bar;
    bar.fMask = SIF_ALL;
    EXPECT_TRUE(GetScrollInfo(memo, SB_VERT, &bar));
    return bar.nPos > 0 && bar.nPos + static_cast<int>(bar.nPage) > bar.nMax;
  };
  for (int i = 0; i < 300; ++i) {
    w.memo->Add("Facility :Main Jail CellNo : A-" + std::to_string(i) + " Allow 1 but 2");
    w.form.Repaint();
    if (i == 150) {
      EXPECT_TRUE(atEnd()) << "mid-pass";
    }
  }
  EXPECT_TRUE(atEnd());
  EXPECT_GT(SendMessageW(memo, EM_GETFIRSTVISIBLELINE, 0, 0), 250);

  // A person scrolled to the top: new lines do not pull the box away from what they read.
  SendMessageW(memo, WM_VSCROLL, SB_TOP, 0);
  for (int i = 0; i < 50; ++i) {
    w.memo->Add("more");
    w.form.Repaint();
  }
  EXPECT_EQ(SendMessageW(memo, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
}

TEST(Win32Window, RepaintsOfALongHandlerLookAtTheQueueWithoutTakingInputFromIt) {
  SmallWindow w;
  w.form.SetFrameInterval(std::chrono::nanoseconds(0));
  w.form.Show();
  int clicks = 0;
  w.start->SetOnClick([&](TComponent*) { ++clicks; });
  GetQueueStatus(QS_ALLINPUT);  // from here, "new" means new since this look
  PostMessageW(Win32Handle(*w.start), BM_CLICK, 0, 0);
  w.form.Repaint();
  // The low word: what came since the queue was last looked at; the high word: what is in it.
  const DWORD status = GetQueueStatus(QS_POSTMESSAGE);
  EXPECT_EQ(LOWORD(status) & QS_POSTMESSAGE, 0u) << "the window looked at its queue";
  EXPECT_NE(HIWORD(status) & QS_POSTMESSAGE, 0u) << "and left the click in it";
  EXPECT_EQ(clicks, 0);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  EXPECT_EQ(clicks, 1);
}

TEST(Win32Window, MovingToAScreenOfAnotherDensityScalesTheWindowAndPlacesItWhereSuggested) {
  SmallWindow w;
  w.form.Show();
  const HWND window = Win32Window(w.form);
  const int dpi = w.form.PixelsPerInch();
  RECT suggested{40, 30, 40 + 1100, 30 + 700};
  SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi * 3 / 2, dpi * 3 / 2),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(w.form.PixelsPerInch(), dpi * 3 / 2);
  RECT client, outer;
  GetClientRect(window, &client);
  GetWindowRect(window, &outer);
  EXPECT_EQ(client.right, ScaleLength(ScaleLength(674, dpi, 96), 3, 2));
  EXPECT_EQ(outer.left, 40);
  EXPECT_EQ(outer.top, 30);
  // The frame and title bar the window is sized with are the new density's, not the
  // system's. (Wine draws every frame at the system's density, so its window shows no
  // difference; the size asked for does.)
  using TAdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  const auto adjust = reinterpret_cast<TAdjustForDpi>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  ASSERT_NE(adjust, nullptr);
  const auto style = static_cast<DWORD>(StyleOf(window));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  RECT atNew{0, 0, ScaleLength(ScaleLength(674, dpi, 96), 3, 2),
             ScaleLength(ScaleLength(420, dpi, 96), 3, 2)},
      atSystem = atNew;
  adjust(&atNew, style, FALSE, exStyle, static_cast<UINT>(dpi * 3 / 2));
  AdjustWindowRectEx(&atSystem, style, FALSE, exStyle);
  ASSERT_NE(atNew.bottom - atNew.top, atSystem.bottom - atSystem.top)
      << "the densities' title bars are alike here, and this test would show nothing";
  EXPECT_EQ(w.form.Peer().OuterSize(),
            (std::pair<int, int>{atNew.right - atNew.left, atNew.bottom - atNew.top}));
  RECT save;
  GetWindowRect(Win32Handle(*w.save), &save);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&save), 2);
  EXPECT_EQ(save.left, ScaleLength(ScaleLength(592, dpi, 96), 3, 2));
  EXPECT_EQ(save.right - save.left, ScaleLength(ScaleLength(75, dpi, 96), 3, 2));
}

// Switching to high contrast changes the desktop's colours: the window's background and its
// labels' text, in system colours, follow.
TEST(Win32Window, TheDesktopsNewColoursReachTheBackgroundAndTheLabels) {
  SmallWindow w;
  w.form.Show();
  const HWND window = Win32Window(w.form);
  const int elements[] = {COLOR_BTNFACE, COLOR_WINDOWTEXT};
  const COLORREF before[] = {GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_WINDOWTEXT)};
  const COLORREF after[] = {RGB(10, 200, 30), RGB(250, 240, 5)};
  ASSERT_TRUE(SetSysColors(2, elements, after));
  SendMessageW(window, WM_SYSCOLORCHANGE, 0, 0);
  const HDC dc = CreateCompatibleDC(nullptr);
  const auto brush =
      reinterpret_cast<HBRUSH>(SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                            reinterpret_cast<LPARAM>(Win32Handle(*w.label))));
  const COLORREF background = GetBkColor(dc), text = GetTextColor(dc);
  DeleteDC(dc);
  LOGBRUSH painted{};
  GetObjectW(brush, sizeof painted, &painted);
  SetSysColors(2, elements, before);
  SendMessageW(window, WM_SYSCOLORCHANGE, 0, 0);
  EXPECT_EQ(background, after[0]);
  EXPECT_EQ(painted.lbColor, after[0]);
  EXPECT_EQ(text, after[1]);
}

// "MS Sans Serif" draws only the ANSI code page's characters, "?" for the rest: a control
// whose text needs others is drawn in the TrueType face, at every size.
TEST(Win32Controls, TextOutsideTheCodePageIsDrawnInATrueTypeFace) {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const wchar_t* const bitmap = dpi == 96 ? L"MS Sans Serif" : L"Microsoft Sans Serif";
  const auto face = [](HWND AControl) {
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(AControl, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return std::wstring(lf.lfFaceName);
  };
  struct Case {
    const char* Text;
    bool Other;
  } cases[] = {{"Main Jail", false}, {"Crème Brûlée", false}, {"Крыло Nord", true}, {"上段", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    SmallWindow w;
    w.label->SetCaption(c.Text);
    w.memo->Add(std::string("Facility :") + c.Text);
    w.memo->Lines();
    EXPECT_EQ(face(Win32Handle(*w.label)), c.Other ? L"Microsoft Sans Serif" : bitmap);
    EXPECT_EQ(face(Win32Handle(*w.memo)), c.Other ? L"Microsoft Sans Serif" : bitmap);
    EXPECT_EQ(face(Win32Handle(*w.save)), bitmap)
        << "a control with text of the code page keeps its face";
  }
}

// The window's picture, as the screen shows it, as a 32-bit bitmap file.
bool SavePicture(HWND AWindow, const std::string& APath) {
  SetForegroundWindow(AWindow);
  RedrawWindow(AWindow, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
  GdiFlush();
  RECT r;
  GetWindowRect(AWindow, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HDC screen = GetDC(nullptr);
  const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HDC dc = CreateCompatibleDC(screen);
  const HGDIOBJ old = SelectObject(dc, bitmap);
  const bool copied = BitBlt(dc, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
  GdiFlush();
  const std::size_t size = static_cast<std::size_t>(width) * height * 4;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + size);
  std::ofstream out(APath, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(size));
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
  ReleaseDC(nullptr, screen);
  return copied && out.good();
}

// The screen's density, as the window reads it. The stage runs this at 96, 144 and 192 pixels
// per inch (BUNKMERE_TEST_DPI names the one it set) and keeps the pictures
// (BUNKMERE_TEST_PICTURES names the folder).
TEST(Win32Density, TheWindowScalesItsStoredLayoutAndEveryCaptionFits) {
  SmallWindow w;
  w.start->SetCaption("Start Synchronization Of  Cells");
  const HWND window = Win32Window(w.form);
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (const char* expected = std::getenv("BUNKMERE_TEST_DPI")) {
    ASSERT_EQ(dpi, std::atoi(expected)) << "the stage's density did not reach the program";
  }
  // SmallWindow was loaded at the screen's density already.
  const auto scaled = [dpi](int AValue) { return ScaleLength(AValue, dpi, 96); };
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, scaled(674));
  EXPECT_EQ(client.bottom, scaled(420));
  const auto placed = [window](const TControl& AControl) {
    RECT r;
    GetWindowRect(Win32Handle(AControl), &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    return TRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
  };
  struct Stored {
    const TControl* Control;
    TRect Bounds;
  } stored[] = {{w.start, {220, 78, 237, 25}},
                {w.bar, {1, 23, 497, 16}},
                {w.memo, {8, 136, 657, 265}},
                {w.save, {592, 107, 75, 25}}};
  for (const Stored& c : stored) {
    SCOPED_TRACE(c.Control->Caption());
    EXPECT_EQ(placed(*c.Control), (TRect{scaled(c.Bounds.Left), scaled(c.Bounds.Top),
                                         scaled(c.Bounds.Width), scaled(c.Bounds.Height)}));
  }
  // Every caption within its control, in the font the control draws with.
  const auto extent = [](const TControl& AControl) {
    const HWND h = Win32Handle(AControl);
    const HDC dc = GetDC(h);
    const auto font = reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0));
    const HGDIOBJ old = SelectObject(dc, font);
    const std::wstring text = TextOf(h);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(h, dc);
    return size;
  };
  const auto fits = [&](const TControl& AControl) {
    SCOPED_TRACE(AControl.Caption());
    const TRect r = placed(AControl);
    const SIZE text = extent(AControl);
    EXPECT_GT(text.cx, 0);
    EXPECT_LE(text.cx, r.Width);
    EXPECT_LE(text.cy, r.Height);
    EXPECT_LE(r.Left + r.Width, scaled(674));
  };
  fits(*w.start);
  fits(*w.save);
  for (const char* caption : {"[XXX]", "[XXXXXX]", "Conflicts Log:"}) {
    w.label->SetCaption(caption);
    fits(*w.label);
    EXPECT_EQ(placed(*w.label).Left, scaled(33));
    EXPECT_EQ(placed(*w.label).Top, scaled(43));
  }
  // The bitmap face only at the heights it has; its TrueType counterpart elsewhere.
  LOGFONTW face{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Win32Handle(*w.save), WM_GETFONT, 0, 0)),
             sizeof face, &face);
  EXPECT_EQ(std::wstring(face.lfFaceName), dpi == 96 ? L"MS Sans Serif" : L"Microsoft Sans Serif");
  EXPECT_EQ(face.lfHeight, ScaleLength(-11, dpi, 96));

  if (const char* folder = std::getenv("BUNKMERE_TEST_PICTURES")) {
    w.label->SetCaption("[XXXXXX]");
    w.memo->Add("Facility :Main Jail DormCode : A CellNo : A-103 Allow 1 but 2 are assign to it");
    w.form.Show();
    w.form.Repaint();
    EXPECT_TRUE(
        SavePicture(window, std::string(folder) + "\\window-" + std::to_string(dpi) + ".bmp"));
  }
}

}  // namespace
}  // namespace bunkmere
