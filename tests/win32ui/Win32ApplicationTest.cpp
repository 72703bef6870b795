// The Win32 application: its event loop's failures, COM, message boxes, and the taskbar
// button and its card.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/UnhandledFailure.h"
#include "core/Exceptions.h"
// After the controls' headers, whose constants windows.h's macros would take.
#include "tests/win32ui/Win32TestWindow.h"
// After windows.h, which it needs.
#include "ui/win32/Win32AppWindow.h"

namespace bunkmere {
namespace {

using namespace win32test;

TEST(Win32Application, AThrowInsideAWindowProcedureEndsTheLoopAndReachesRunsCaller) {
  TApplication application("win32ui_tests");
  AnsweredBoxes boxes;
  TMessageBoxesOverride answering(boxes);
  application.SetTitle("Bunkmere");
  SmallWindow w;
  w.save->SetOnClick([](TComponent*) { throw Exception("Cannot create file x.log"); });
  w.start->SetOnClick([](TComponent*) { throw 42; });
  // A failure of the program's kind is the click's own: its box, and the program goes on.
  PostMessageW(Win32Handle(*w.save), BM_CLICK, 0, 0);
  PostMessageW(Win32Window(w.form), WM_CLOSE, 0, 0);
  EXPECT_EQ(application.Run(w.form), 0);
  EXPECT_EQ(boxes.Shown, std::vector<std::string>{"Bunkmere|Cannot create file x.log."});
  // Anything else cannot unwind through the system's frames: it is carried to Run's caller.
  PostMessageW(Win32Handle(*w.start), BM_CLICK, 0, 0);
  EXPECT_THROW(application.Run(w.form), int);
  EXPECT_EQ(boxes.Shown.size(), 1u);
}

TEST(Win32Application, AThrowNoClickHandlesEndsWithTheApplicationErrorBoxAndExitCode1) {
  TApplication application("win32ui_tests");
  AnsweredBoxes boxes;
  TMessageBoxesOverride answering(boxes);
  SmallWindow w;
  w.start->SetOnClick([](TComponent*) { throw 42; });
  PostMessageW(Win32Handle(*w.start), BM_CLICK, 0, 0);
  const int code =
      RunOrShowUnhandledFailure([&] { return application.Run(w.form); },
                                [](const std::exception*) -> std::uintptr_t { return 0x1A2F4; });
  EXPECT_EQ(code, 1);
  ASSERT_EQ(boxes.Shown.size(), 1u);
  EXPECT_TRUE(boxes.Shown[0].starts_with("Application Error|Exception Unknown in module "))
      << boxes.Shown[0];
  EXPECT_NE(boxes.Shown[0].find(" at 0001A2F4.\n\nUnknown failure."), std::string::npos)
      << boxes.Shown[0];
}

TEST(Win32Application, TheMainThreadIsASingleThreadedApartmentWhileTheApplicationLives) {
  {
    TApplication application("win32ui_tests");
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  }
  // Uninitialised with the application: the thread may join another apartment now.
  const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EXPECT_TRUE(SUCCEEDED(again));
  if (SUCCEEDED(again)) CoUninitialize();
}

// Answers the system's message boxes of this thread as they open, noting their owners.
struct BoxAnswerer {
  BoxAnswerer() {
    Self() = this;
    Hook = SetWindowsHookExW(WH_CBT, &OnEvent, nullptr, GetCurrentThreadId());
  }
  ~BoxAnswerer() {
    UnhookWindowsHookEx(Hook);
    Self() = nullptr;
  }
  static BoxAnswerer*& Self() {
    static BoxAnswerer* self = nullptr;
    return self;
  }
  static LRESULT CALLBACK OnEvent(int ACode, WPARAM W, LPARAM L) {
    if (ACode == HCBT_ACTIVATE && Self() != nullptr) {
      const auto box = reinterpret_cast<HWND>(W);
      wchar_t name[16] = {};
      GetClassNameW(box, name, 16);
      if (std::wstring_view(name) == L"#32770") {
        Self()->Owners.push_back(GetWindow(box, GW_OWNER));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
      }
    }
    return CallNextHookEx(nullptr, ACode, W, L);
  }
  HHOOK Hook;
  std::vector<HWND> Owners;
};

TEST(Win32Application, MessageBoxesBelongToTheMainWindowWhateverWindowIsActive) {
  TApplication application("win32ui_tests");
  SmallWindow w;
  // Another window of the program's thread is the active one when the box comes.
  SmallWindow other;
  w.start->SetOnClick([&](TComponent*) {
    other.form.Show();
    SetActiveWindow(Win32Window(other.form));
    application.ShowMessage("Cell Synchronization Completed");
    w.form.Close();
  });
  BoxAnswerer answerer;
  PostMessageW(Win32Handle(*w.start), BM_CLICK, 0, 0);
  EXPECT_EQ(application.Run(w.form), 0);
  EXPECT_EQ(answerer.Owners, std::vector<HWND>{Win32Window(w.form)});
}

// The taskbar button and the task switcher's entry are the application's, with its title:
// the main window is owned by the application's window (an owned window gets no button), which
// shows while the main window does. Minimising the main window minimises the application's
// window (hiding what it owns); restoring that brings the main window back. With the main form
// on the taskbar, the form is a window of its own.
TEST(Win32Application, TheTaskbarButtonIsTheApplicationsWithItsTitle) {
  const auto visibleTopLevels = [] {
    std::vector<HWND> found;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND AWindow, LPARAM AFound) {
          if (IsWindowVisible(AWindow) && GetWindow(AWindow, GW_OWNER) == nullptr)
            reinterpret_cast<std::vector<HWND>*>(AFound)->push_back(AWindow);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
  };
  {
    TApplication application("win32ui_tests");
    application.SetMainFormOnTaskBar(false);
    application.SetTitle("Bunkmere");
    SmallWindow w;
    w.form.SetCaption("Synch Facility Cells Base On Current Population");
    const HWND form = Win32Window(w.form);
    const HWND owner = GetWindow(form, GW_OWNER);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(TextOf(owner), L"Bunkmere");
    EXPECT_EQ(GetWindowLongPtrW(owner, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
    EXPECT_EQ(GetWindowLongPtrW(form, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    std::vector<HWND> shown;
    bool minimised = false, hiddenWhileMinimised = false, backAfterRestore = false;
    w.start->SetOnClick([&](TComponent*) {
      shown = visibleTopLevels();
      SendMessageW(form, WM_SYSCOMMAND, SC_MINIMIZE, 0);
      minimised = IsIconic(owner) != FALSE;
      hiddenWhileMinimised = IsWindowVisible(form) == FALSE;
      ShowWindow(owner, SW_RESTORE);
      backAfterRestore = IsWindowVisible(form) != FALSE && IsIconic(form) == FALSE;
      w.form.Close();
    });
    PostMessageW(Win32Handle(*w.start), BM_CLICK, 0, 0);
    EXPECT_EQ(application.Run(w.form), 0);
    // The only window the taskbar and the task switcher list: the application's.
    EXPECT_EQ(shown, std::vector<HWND>{owner});
    EXPECT_TRUE(minimised);
    EXPECT_TRUE(hiddenWhileMinimised);
    EXPECT_TRUE(backAfterRestore);
  }
  {
    TApplication application("win32ui_tests");
    application.SetMainFormOnTaskBar(true);
    SmallWindow w;
    EXPECT_EQ(GetWindow(Win32Window(w.form), GW_OWNER), nullptr);
  }
}

// The application's window, which carries the taskbar button, has no size and so no picture:
// the taskbar, Alt+Tab and Task View ask it for one, and get the main window's.
struct RecordedPictures final : win32::TIconicPictures {
  struct Picture {
    int Width = 0, Height = 0, Colours = 0;
    POINT Offset{};
  };
  static Picture Of(HBITMAP APicture) {
    BITMAP b{};
    GetObjectW(APicture, sizeof b, &b);
    Picture p{b.bmWidth, b.bmHeight < 0 ? -b.bmHeight : b.bmHeight, 0, {}};
    if (b.bmBits != nullptr && b.bmBitsPixel == 32) {
      const auto* pixels = static_cast<const std::uint32_t*>(b.bmBits);
      std::vector<std::uint32_t> seen(pixels,
                                      pixels + static_cast<std::size_t>(p.Width) * p.Height);
      for (auto& pixel : seen) pixel &= 0x00FFFFFF;
      std::sort(seen.begin(), seen.end());
      p.Colours = static_cast<int>(std::unique(seen.begin(), seen.end()) - seen.begin());
    }
    return p;
  }
  HRESULT SetThumbnail(HWND AWindow, HBITMAP APicture) override {
    Window = AWindow;
    Thumbnails.push_back(Of(APicture));
    return S_OK;
  }
  HRESULT SetLivePreview(HWND AWindow, HBITMAP APicture, POINT AOffset) override {
    Window = AWindow;
    Previews.push_back(Of(APicture));
    Previews.back().Offset = AOffset;
    return S_OK;
  }
  HWND Window = nullptr;
  std::vector<Picture> Thumbnails, Previews;
};

TEST(Win32Application, TheTaskbarCardShowsTheMainWindow) {
  TApplication application("win32ui_tests");
  application.SetMainFormOnTaskBar(false);
  SmallWindow w;
  w.memo->Add("Facility :Main Jail DormCode : A CellNo : A-103 Allow 1 but 2 are assign to it");
  const HWND form = Win32Window(w.form);
  const HWND owner = GetWindow(form, GW_OWNER);
  ASSERT_NE(owner, nullptr);
  RecordedPictures pictures;
  win32::TIconicPicturesOverride answering(pictures);
  struct Case {
    int MaxWidth, MaxHeight;
  } cases[] = {{200, 150}, {150, 200}, {320, 60}};
  RECT outer{}, ownerRect{};
  // Asked while the program runs, as the desktop window manager asks.
  w.start->SetOnClick([&](TComponent*) {
    w.form.Repaint();
    GetWindowRect(form, &outer);
    GetWindowRect(owner, &ownerRect);
    for (const Case& c : cases) {
      // The maximum width in the high word, the height in the low one.
      SendMessageW(owner, WM_DWMSENDICONICTHUMBNAIL, 0, MAKELPARAM(c.MaxHeight, c.MaxWidth));
    }
    SendMessageW(owner, WM_DWMSENDICONICLIVEPREVIEWBITMAP, 0, 0);
    w.form.Close();
  });
  PostMessageW(Win32Handle(*w.start), BM_CLICK, 0, 0);
  EXPECT_EQ(application.Run(w.form), 0);

  ASSERT_EQ(pictures.Thumbnails.size(), std::size(cases));
  EXPECT_EQ(pictures.Window, owner);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::to_string(c.MaxWidth) + "x" + std::to_string(c.MaxHeight));
    const auto& t = pictures.Thumbnails[i];
    EXPECT_LE(t.Width, c.MaxWidth);
    EXPECT_LE(t.Height, c.MaxHeight);
    EXPECT_TRUE(t.Width == c.MaxWidth || t.Height == c.MaxHeight) << t.Width << "x" << t.Height;
    // The window's proportions, within a pixel of rounding.
    EXPECT_NEAR(static_cast<double>(t.Width) / t.Height,
                static_cast<double>(outer.right - outer.left) / (outer.bottom - outer.top),
                2.0 / std::min(t.Width, t.Height));
    EXPECT_GT(t.Colours, 1) << "one solid colour is no picture of the window";
  }
  ASSERT_EQ(pictures.Previews.size(), 1u);
  const auto& p = pictures.Previews[0];
  EXPECT_EQ(p.Width, outer.right - outer.left);
  EXPECT_EQ(p.Height, outer.bottom - outer.top);
  EXPECT_GT(p.Colours, 1);
  EXPECT_EQ(p.Offset.x, outer.left - ownerRect.left);
  EXPECT_EQ(p.Offset.y, outer.top - ownerRect.top);
}

}  // namespace
}  // namespace bunkmere
