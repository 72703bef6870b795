// The Win32 backend's side of the process: COM for the main thread, the common controls, the
// event loop with the dialog manager's keys, and the system's message boxes.

#include "ui/win32/Win32Support.h"
// After windows.h, which they need.
#include <commctrl.h>
#include <objbase.h>

#include "ui/win32/DialogKeys.h"
#include "ui/win32/Win32AppWindow.h"

namespace bunkmere::win32 {
namespace {

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
    // Forms are owned by it unless the main form is to have its own button.
    gApplicationWindow = FWindow.Handle();
  }
  ~TWin32ApplicationPeer() override {
    if (gApplicationWindow == FWindow.Handle()) gApplicationWindow = nullptr;
    if (FComInitialised) CoUninitialize();
  }
  TWin32ApplicationPeer(const TWin32ApplicationPeer&) = delete;
  TWin32ApplicationPeer& operator=(const TWin32ApplicationPeer&) = delete;
  void SetMainWindow(TFormPeer* AWindow) override {
    FMainWindow = AWindow != nullptr ? FormWindow(*AWindow) : nullptr;
    FWindow.SetMainWindow(FMainWindow);
  }
  void SetMainFormOnTaskBar(bool AValue) override {
    gApplicationWindow = AValue ? nullptr : FWindow.Handle();
  }
  void SetTitle(const std::string& AValue) override {
    // The taskbar button's and the task switcher's text; boxes get the title as caption.
    SetWindowTextW(FWindow.Handle(), Wide(AValue).c_str());
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
  bool FComInitialised = false;
  TApplicationWindow FWindow;
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
