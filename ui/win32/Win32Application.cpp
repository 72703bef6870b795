// The Win32 backend's side of the process: COM for the main thread, the common controls, the
// event loop with the dialog manager's keys, and the system's message boxes.

#include "ui/win32/Win32Support.h"
// After windows.h, which they need.
#include <commctrl.h>
#include <objbase.h>

#include "ui/win32/DialogKeys.h"

namespace bunkmere::win32 {
namespace {

constexpr wchar_t kApplicationClass[] = L"BunkmereApplication";
// Set on the application's window while minimising it has hidden the main window.
constexpr wchar_t kHiddenByMinimise[] = L"BunkmereHiddenByMinimise";

// The application's window while the application exists: it owns the forms, and its taskbar
// button shows the title.
HWND gApplicationWindow = nullptr;

void Dispatch(const MSG& AMessage) {
  if (HandleDialogKey(AMessage, kFormClass)) return;
  TranslateMessage(&AMessage);
  DispatchMessageW(&AMessage);
}

class TWin32ApplicationPeer final : public TApplicationPeer {
 public:
  TWin32ApplicationPeer() {
    // The main thread is a single-threaded apartment, as the system's dialogs and shell calls
    // expect of a window's thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    FComInitialised = SUCCEEDED(com);
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                  ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    CreateApplicationWindow();
  }
  ~TWin32ApplicationPeer() override {
    if (gApplicationWindow == FWindow.get()) gApplicationWindow = nullptr;
    FWindow.reset();
    if (FComInitialised) CoUninitialize();
  }
  TWin32ApplicationPeer(const TWin32ApplicationPeer&) = delete;
  TWin32ApplicationPeer& operator=(const TWin32ApplicationPeer&) = delete;
  void SetMainWindow(TFormPeer* AWindow) override {
    FMainWindow = AWindow != nullptr ? FormWindow(*AWindow) : nullptr;
    SetWindowLongPtrW(FWindow.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(FMainWindow));
    // The taskbar button is there while the main window is.
    if (FMainWindow != nullptr && GetWindow(FMainWindow, GW_OWNER) == FWindow.get())
      ShowWindow(FWindow.get(), SW_SHOWNOACTIVATE);
    else
      ShowWindow(FWindow.get(), SW_HIDE);
  }
  void SetMainFormOnTaskBar(bool AValue) override {
    gApplicationWindow = AValue ? nullptr : FWindow.get();
  }
  void SetTitle(const std::string& AValue) override {
    // The taskbar button's and the task switcher's text; boxes get the title as caption.
    SetWindowTextW(FWindow.get(), Wide(AValue).c_str());
  }
  void SetIcon(std::string_view /*AImage*/) override {
    // The executable carries the icon as a resource; every window's class uses it.
  }
  void ShowMessageBox(const std::string& ACaption, const std::string& AText,
                      TMsgDlgType AType) override {
    // Owned by the main window, so the taskbar brings box and window forward together, even
    // when another program is active.
    const HWND owner =
        FMainWindow != nullptr && IsWindow(FMainWindow) ? FMainWindow : GetActiveWindow();
    UINT flags = MB_OK | (AType == TMsgDlgType::mtError ? MB_ICONERROR : 0);
    // Without a window of the program's own, the box still blocks the whole program.
    if (owner == nullptr) flags |= MB_TASKMODAL;
    MessageBoxW(owner, Wide(AText).c_str(), Wide(ACaption).c_str(), flags);
  }
  int Run() override {
    MSG message;
    for (;;) {
      const BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got == 0) return static_cast<int>(message.wParam);
      if (got < 0) return 1;
      Dispatch(message);
    }
  }
  void ProcessMessages() override {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // Left for the loop that runs the program to end on.
        PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      Dispatch(message);
    }
  }

 private:
  // A visible window of no size, at the middle of the screen, with a caption, system menu and
  // minimise box: the taskbar gives it a button and the task switcher an entry, both with the
  // class's icon (the executable's) and the title.
  void CreateApplicationWindow() {
    static const bool registered = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = &WindowProc;
      wc.hInstance = Instance();
      wc.hIcon = LoadIconW(Instance(), MAKEINTRESOURCEW(1));
      wc.lpszClassName = kApplicationClass;
      return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2, y = GetSystemMetrics(SM_CYSCREEN) / 2;
    FWindow.reset(
        CreateWindowExW(0, kApplicationClass, L"",
                        WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y,
                        0, 0, nullptr, nullptr, Instance(), nullptr));
    // Forms are owned by it unless the main form is to have its own button.
    gApplicationWindow = FWindow.get();
  }

  // Activation from the taskbar or the task switcher lands on this window: it is passed on to
  // the main window. Closing from the taskbar closes the main window.
  static LRESULT CALLBACK WindowProc(HWND AWindow, UINT AMessage, WPARAM W, LPARAM L) {
    const auto main = reinterpret_cast<HWND>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
    switch (AMessage) {
      case WM_SETFOCUS:
        if (main != nullptr && IsWindowVisible(main) && IsWindowEnabled(main)) {
          SetFocus(main);
          return 0;
        }
        break;
      case WM_CLOSE:
        if (main != nullptr) PostMessageW(main, WM_CLOSE, 0, 0);
        return 0;
      case WM_SIZE:
        // Minimised (from the taskbar, or by the main window's minimise box), the main window
        // goes out of sight with it, and comes back when it is restored. Windows hides owned
        // windows with their owner by itself; doing it here too costs nothing there and holds
        // wherever that is not done.
        if (main != nullptr && W == SIZE_MINIMIZED && IsWindowVisible(main)) {
          ShowWindow(main, SW_HIDE);
          SetPropW(AWindow, kHiddenByMinimise, reinterpret_cast<HANDLE>(1));
        } else if (main != nullptr && W != SIZE_MINIMIZED &&
                   RemovePropW(AWindow, kHiddenByMinimise) != nullptr) {
          ShowWindow(main, SW_SHOW);
        }
        break;
      default:
        break;
    }
    return DefWindowProcW(AWindow, AMessage, W, L);
  }

  bool FComInitialised = false;
  TWindowHandle FWindow;
  HWND FMainWindow = nullptr;
};

}  // namespace

HWND FormOwnerWindow() {
  return gApplicationWindow;
}

std::unique_ptr<TApplicationPeer> MakeApplication() {
  return std::make_unique<TWin32ApplicationPeer>();
}

}  // namespace bunkmere::win32
