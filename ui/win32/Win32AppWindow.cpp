#include "ui/win32/Win32AppWindow.h"

// After windows.h, which it needs.
#include <dwmapi.h>

#include <algorithm>
#include <utility>

namespace bunkmere::win32 {
namespace {

constexpr wchar_t kApplicationClass[] = L"BunkmereApplication";
// Set on the application's window while minimising it has hidden the main window.
constexpr wchar_t kHiddenByMinimise[] = L"BunkmereHiddenByMinimise";

// The application's window while it exists, for TaskbarPictureChanged.
HWND gWindow = nullptr;

// The desktop window manager's functions, looked up: they are missing where it is (Wine's
// answer some with "not implemented", which changes nothing here).
template <typename TFunction>
TFunction Dwm(const char* AName) {
  static const HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
  return dwm != nullptr
             ? reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(dwm, AName)))
             : nullptr;
}

class TDwmPictures final : public TIconicPictures {
 public:
  HRESULT SetThumbnail(HWND AWindow, HBITMAP APicture) override {
    using TSet = HRESULT(WINAPI*)(HWND, HBITMAP, DWORD);
    static const auto set = Dwm<TSet>("DwmSetIconicThumbnail");
    return set != nullptr ? set(AWindow, APicture, 0) : E_NOTIMPL;
  }
  HRESULT SetLivePreview(HWND AWindow, HBITMAP APicture, POINT AOffset) override {
    using TSet = HRESULT(WINAPI*)(HWND, HBITMAP, POINT*, DWORD);
    static const auto set = Dwm<TSet>("DwmSetIconicLivePreviewBitmap");
    return set != nullptr ? set(AWindow, APicture, &AOffset, 0) : E_NOTIMPL;
  }
};

TIconicPictures*& Pictures() {
  static TDwmPictures dwm;
  static TIconicPictures* current = &dwm;
  return current;
}

void SetAttribute(HWND AWindow, DWORD AAttribute, BOOL AValue) {
  using TSet = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
  static const auto set = Dwm<TSet>("DwmSetWindowAttribute");
  if (set != nullptr) set(AWindow, AAttribute, &AValue, sizeof AValue);
}

}  // namespace

TApplicationWindow::TApplicationWindow() {
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
  // Visible, at the middle of the screen, with a caption, system menu and minimise box: the
  // taskbar gives it a button and the task switcher an entry, both with the class's icon (the
  // executable's) and the title.
  const int x = GetSystemMetrics(SM_CXSCREEN) / 2, y = GetSystemMetrics(SM_CYSCREEN) / 2;
  FWindow.reset(
      CreateWindowExW(0, kApplicationClass, L"",
                      WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y,
                      0, 0, nullptr, nullptr, Instance(), nullptr));
  gWindow = FWindow.get();
  // Its own picture would be empty: the taskbar, Alt+Tab and Task View ask for one instead.
  SetAttribute(Handle(), DWMWA_FORCE_ICONIC_REPRESENTATION, TRUE);
  SetAttribute(Handle(), DWMWA_HAS_ICONIC_BITMAP, TRUE);
}

void TApplicationWindow::SetMainWindow(HWND AWindow) {
  SetWindowLongPtrW(Handle(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(AWindow));
  // The taskbar button is there while the main window is.
  if (AWindow != nullptr && GetWindow(AWindow, GW_OWNER) == Handle())
    ShowWindow(Handle(), SW_SHOWNOACTIVATE);
  else
    ShowWindow(Handle(), SW_HIDE);
}

// Activation from the taskbar or the task switcher lands on this window: it is passed on to
// the main window. Closing from the taskbar closes the main window.
LRESULT CALLBACK TApplicationWindow::WindowProc(HWND AWindow, UINT AMessage, WPARAM W, LPARAM L) {
  const auto main = reinterpret_cast<HWND>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
  switch (AMessage) {
    case WM_NCDESTROY:
      if (gWindow == AWindow) gWindow = nullptr;
      break;
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
    case WM_DWMSENDICONICTHUMBNAIL:
      if (main != nullptr) {
        if (const TBitmapHandle picture = CaptureWindow(main, HIWORD(L), LOWORD(L)))
          Pictures()->SetThumbnail(AWindow, picture.get());
        return 0;
      }
      break;
    case WM_DWMSENDICONICLIVEPREVIEWBITMAP:
      if (main != nullptr) {
        // Peek shows the main window where it is, full size.
        if (const TBitmapHandle picture = CaptureWindow(main, 0, 0)) {
          RECT from{}, to{};
          GetWindowRect(AWindow, &from);
          GetWindowRect(main, &to);
          Pictures()->SetLivePreview(AWindow, picture.get(),
                                     POINT{to.left - from.left, to.top - from.top});
        }
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(AWindow, AMessage, W, L);
}

TBitmapHandle CaptureWindow(HWND AWindow, int AMaxWidth, int AMaxHeight) {
  RECT r{};
  if (!GetWindowRect(AWindow, &r)) return nullptr;
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return nullptr;
  int outWidth = width, outHeight = height;
  if (AMaxWidth > 0 && AMaxHeight > 0 && (width > AMaxWidth || height > AMaxHeight)) {
    // The larger reduction of the two, so that both fit.
    if (static_cast<long long>(width) * AMaxHeight >= static_cast<long long>(height) * AMaxWidth) {
      outWidth = AMaxWidth;
      outHeight = std::max(1, static_cast<int>(static_cast<long long>(height) * AMaxWidth / width));
    } else {
      outHeight = AMaxHeight;
      outWidth = std::max(1, static_cast<int>(static_cast<long long>(width) * AMaxHeight / height));
    }
  }
  const auto dib = [](HDC ADc, int AWidth, int AHeight) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = AWidth;
    info.bmiHeader.biHeight = -AHeight;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    return TBitmapHandle(CreateDIBSection(ADc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  };
  const HDC screen = GetDC(nullptr);
  TBitmapHandle full = dib(screen, width, height);
  TBitmapHandle out = outWidth == width ? nullptr : dib(screen, outWidth, outHeight);
  const HDC from = CreateCompatibleDC(screen);
  const HDC to = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  bool drawn = false;
  if (full && from != nullptr) {
    const HGDIOBJ oldFrom = SelectObject(from, full.get());
    // The window draws itself, wherever it is and whatever covers it.
    drawn = PrintWindow(AWindow, from, PW_RENDERFULLCONTENT) != FALSE ||
            PrintWindow(AWindow, from, 0) != FALSE;
    if (drawn && out && to != nullptr) {
      const HGDIOBJ oldTo = SelectObject(to, out.get());
      SetStretchBltMode(to, HALFTONE);
      SetBrushOrgEx(to, 0, 0, nullptr);
      drawn =
          StretchBlt(to, 0, 0, outWidth, outHeight, from, 0, 0, width, height, SRCCOPY) != FALSE;
      SelectObject(to, oldTo);
    }
    SelectObject(from, oldFrom);
  }
  if (from != nullptr) DeleteDC(from);
  if (to != nullptr) DeleteDC(to);
  GdiFlush();
  if (!drawn) return nullptr;
  return out ? std::move(out) : std::move(full);
}

TIconicPicturesOverride::TIconicPicturesOverride(TIconicPictures& APictures)
    : FPrevious(std::exchange(Pictures(), &APictures)) {}

TIconicPicturesOverride::~TIconicPicturesOverride() {
  Pictures() = FPrevious;
}

void TaskbarPictureChanged() {
  using TInvalidate = HRESULT(WINAPI*)(HWND);
  static const auto invalidate = Dwm<TInvalidate>("DwmInvalidateIconicBitmaps");
  if (gWindow != nullptr && invalidate != nullptr) invalidate(gWindow);
}

}  // namespace bunkmere::win32
