#pragma once
// What every part of the Win32 backend shares: text between UTF-8 and UTF-16, owners of window
// and GDI handles, colours and fonts as the system takes them. Only ui/win32/ includes it.

// Before windows.h, whose macros would take the names of the controls' own constants.
#include "ui/Graphics.h"
#include "ui/Peers.h"

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace bunkmere::win32 {

inline std::wstring Wide(std::string_view AText) {
  if (AText.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), w.data(), n);
  return w;
}

inline std::string Narrow(std::wstring_view AText) {
  if (AText.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), s.data(), n,
                      nullptr, nullptr);
  return s;
}

struct TWindowDeleter {
  void operator()(HWND AWindow) const noexcept {
    if (IsWindow(AWindow)) DestroyWindow(AWindow);
  }
};
using TWindowHandle = std::unique_ptr<std::remove_pointer_t<HWND>, TWindowDeleter>;

struct TGdiDeleter {
  void operator()(HGDIOBJ AObject) const noexcept { DeleteObject(AObject); }
};
using TFontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, TGdiDeleter>;
using TBrushHandle = std::unique_ptr<std::remove_pointer_t<HBRUSH>, TGdiDeleter>;

// A system colour follows the desktop's palette; a plain colour is 0x00BBGGRR already.
inline COLORREF ToColorRef(TColor AColor) {
  if ((AColor & clSystemColor) != 0) return GetSysColor(AColor & 0xFF);
  return static_cast<COLORREF>(AColor) & 0x00FFFFFF;
}

// A font for the stored description of one, for text with characters outside the ANSI code
// page when AOtherCharacters; see FaceFor in Win32Support.cpp for the face.
TFontHandle MakeFont(const TFontData& AFont, bool AOtherCharacters = false);

// Whether AText holds characters the ANSI code page lacks.
bool OutsideAnsiCodePage(std::wstring_view AText);

// The class of every form's window.
inline constexpr wchar_t kFormClass[] = L"BunkmereForm";

inline HINSTANCE Instance() {
  return GetModuleHandleW(nullptr);
}

// The window of a form's peer (the Win32 one: the only kind this backend makes).
HWND FormWindow(TFormPeer& AForm);

// The window that owns every form: the application's, whose taskbar button and task switcher
// entry show the application's title. Null when the main form has its own button, or while
// no application exists.
HWND FormOwnerWindow();

// The program's own event loop and message boxes.
std::unique_ptr<TApplicationPeer> MakeApplication();

}  // namespace bunkmere::win32
