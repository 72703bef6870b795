// The keyboard on the Win32 window: the dialog manager's keys, Esc, and the keyboard cues.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/win32ui/Win32TestWindow.h"

namespace bunkmere {
namespace {

using namespace win32test;

TEST(Win32Keyboard, ClicksEnterSpaceAndAccessKeysPressTheRightButton) {
  TApplication application("win32ui_tests");
  SmallWindow w;
  w.save->SetCaption("Save && &Log");
  std::vector<std::string> pressed;
  w.start->SetOnClick([&](TComponent*) { pressed.push_back("start"); });
  w.save->SetOnClick([&](TComponent*) { pressed.push_back("save"); });
  w.form.Show();
  const HWND start = Win32Handle(*w.start), save = Win32Handle(*w.save),
             memo = Win32Handle(*w.memo);
  ASSERT_EQ(GetFocus(), start) << "the first in tab order holds the focus when the window opens";

  struct Case {
    const char* What;
    HWND Focus;
    std::function<void()> Do;
    const char* Pressed;  // null: none
  } cases[] = {
      {"BM_CLICK to the button", memo, [&] { SendMessageW(save, BM_CLICK, 0, 0); }, "save"},
      {"Enter on the focused start button", start,
       [&] { PostMessageW(start, WM_KEYDOWN, VK_RETURN, 0); }, "start"},
      {"Enter on the focused Save Log", save, [&] { PostMessageW(save, WM_KEYDOWN, VK_RETURN, 0); },
       "save"},
      {"Enter in the log is the log's", memo, [&] { PostMessageW(memo, WM_KEYDOWN, VK_RETURN, 0); },
       nullptr},
      {"Space on the focused button", start,
       [&] {
         PostMessageW(start, WM_KEYDOWN, VK_SPACE, 0x00390001);
         PostMessageW(start, WM_KEYUP, VK_SPACE, 0xC0390001);
       },
       "start"},
      {"Alt+L from the log", memo, [&] { PostMessageW(memo, WM_SYSCHAR, L'l', 1 << 29); }, "save"},
      {"Alt+S from Save Log", save, [&] { PostMessageW(save, WM_SYSCHAR, L'S', 1 << 29); },
       "start"},
      {"Alt+& is no access key", memo, [&] { PostMessageW(memo, WM_SYSCHAR, L'&', 1 << 29); },
       nullptr},
      {"Alt+X marks nothing", memo, [&] { PostMessageW(memo, WM_SYSCHAR, L'x', 1 << 29); },
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    SetFocus(c.Focus);
    pressed.clear();
    c.Do();
    RunQueued();
    EXPECT_EQ(pressed,
              c.Pressed ? std::vector<std::string>{c.Pressed} : std::vector<std::string>{});
  }
  // The focused button shows the default frame that says Enter presses it; the other does not.
  SetFocus(save);
  EXPECT_EQ(StyleOf(save) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  EXPECT_EQ(StyleOf(start) & BS_TYPEMASK, BS_PUSHBUTTON);
  SetFocus(memo);
  EXPECT_EQ(StyleOf(save) & BS_TYPEMASK, BS_PUSHBUTTON);
}

TEST(Win32Keyboard, TabAndShiftTabFollowTheStoredOrder) {
  TApplication application("win32ui_tests");
  SmallWindow w;
  w.form.Show();
  const HWND start = Win32Handle(*w.start), save = Win32Handle(*w.save),
             memo = Win32Handle(*w.memo);
  auto tab = [](bool AShift) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = AShift ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    RunQueued();
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    return GetFocus();
  };
  SetFocus(start);
  EXPECT_EQ(tab(false), memo);
  EXPECT_EQ(tab(false), save);
  EXPECT_EQ(tab(false), start);
  EXPECT_EQ(tab(true), save);
  EXPECT_EQ(tab(true), memo);
}

// The window has no Cancel button: Esc closes nothing. A multi-line edit that was asked for
// its dialog code with a message takes itself for a dialog's and closes its parent on Esc;
// Enter in the log is what asks it.
TEST(Win32Keyboard, EscClosesNothingFromAnyControl) {
  TApplication application("win32ui_tests");
  const auto key = [](HWND AWindow, WPARAM AKey) {
    PostMessageW(AWindow, WM_KEYDOWN, AKey, 0x00010001);
    PostMessageW(AWindow, WM_CHAR, AKey == VK_RETURN ? L'\r' : 0x1B, 0x00010001);
    PostMessageW(AWindow, WM_KEYUP, AKey, 0xC0010001);
    RunQueued();
  };
  struct Case {
    const char* What;
    std::function<HWND(SmallWindow&)> Focus;
    std::vector<WPARAM> Keys;
  } cases[] = {
      {"Enter then Esc in the log",
       [](SmallWindow& w) { return Win32Handle(*w.memo); },
       {VK_RETURN, VK_ESCAPE}},
      {"Esc in the log", [](SmallWindow& w) { return Win32Handle(*w.memo); }, {VK_ESCAPE}},
      {"Esc on the start button",
       [](SmallWindow& w) { return Win32Handle(*w.start); },
       {VK_ESCAPE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    SmallWindow w;
    w.form.Show();
    const HWND focus = c.Focus(w);
    SetFocus(focus);
    for (WPARAM k : c.Keys) key(focus, k);
    MSG quit;
    EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the loop would end";
    EXPECT_TRUE(w.form.Showing());
    EXPECT_TRUE(IsWindowVisible(Win32Window(w.form)));
    EXPECT_EQ(GetFocus(), focus);
  }
}

// Access keys and the focus rectangle, hidden where the person chose so, show from the first
// use of the keyboard on. (Wine keeps no such state, so the window is told, and what the
// window draws is not looked at.)
struct UiStateMessages {
  UiStateMessages() {
    Self() = this;
    Hook = SetWindowsHookExW(WH_CALLWNDPROC, &OnMessage, nullptr, GetCurrentThreadId());
  }
  ~UiStateMessages() {
    UnhookWindowsHookEx(Hook);
    Self() = nullptr;
  }
  static UiStateMessages*& Self() {
    static UiStateMessages* self = nullptr;
    return self;
  }
  static LRESULT CALLBACK OnMessage(int ACode, WPARAM W, LPARAM L) {
    const auto* m = reinterpret_cast<const CWPSTRUCT*>(L);
    if (ACode == HC_ACTION && Self() != nullptr && m->hwnd == Self()->Window &&
        (m->message == WM_UPDATEUISTATE || m->message == WM_CHANGEUISTATE))
      Self()->Seen.push_back(LOWORD(m->wParam));
    return CallNextHookEx(nullptr, ACode, W, L);
  }
  HHOOK Hook;
  HWND Window = nullptr;
  std::vector<WORD> Seen;  // UIS_SET, UIS_CLEAR, for UISF_HIDEACCEL | UISF_HIDEFOCUS
};

TEST(Win32Keyboard, CuesShowAfterTheFirstKeyboardUse) {
  TApplication application("win32ui_tests");
  BOOL had = TRUE;
  SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &had, 0);
  SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(FALSE), 0);
  SmallWindow w;
  UiStateMessages messages;
  messages.Window = Win32Window(w.form);
  w.form.Show();
  const std::vector<WORD> atFirst = messages.Seen;
  const HWND start = Win32Handle(*w.start);
  SetFocus(start);
  PostMessageW(start, WM_KEYDOWN, VK_TAB, 0);
  RunQueued();
  SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(static_cast<INT_PTR>(had)),
                        0);
  EXPECT_EQ(atFirst, std::vector<WORD>{UIS_SET}) << "hidden when the window opens";
  ASSERT_FALSE(messages.Seen.empty());
  EXPECT_EQ(messages.Seen.back(), UIS_CLEAR) << "shown after Tab";
}

}  // namespace
}  // namespace bunkmere
