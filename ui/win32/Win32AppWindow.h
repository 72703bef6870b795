#pragma once
// The application's window: a visible window of no size that owns the forms, so that the
// taskbar button and the task switcher's entry are the application's and show its title.
// Activation from them is passed on to the main window, closing closes it, minimising it
// hides it. Having no size, it gives the taskbar, Alt+Tab and Task View no picture of its
// own: it asks the desktop window manager to use one it supplies (an "iconic" thumbnail and
// live preview), and supplies the main window's.

#include "ui/win32/Win32Support.h"

namespace bunkmere::win32 {

class TApplicationWindow {
 public:
  TApplicationWindow();
  HWND Handle() const noexcept { return FWindow.get(); }
  // The window the taskbar button stands for; null when there is none.
  void SetMainWindow(HWND AWindow);

 private:
  static LRESULT CALLBACK WindowProc(HWND AWindow, UINT AMessage, WPARAM W, LPARAM L);
  TWindowHandle FWindow;
};

using TBitmapHandle = std::unique_ptr<std::remove_pointer_t<HBITMAP>, TGdiDeleter>;

// AWindow's picture, frame and controls included, as a 32-bit DIB section, made smaller to fit
// within AMaxWidth by AMaxHeight (its proportions kept) when it is larger.
TBitmapHandle CaptureWindow(HWND AWindow, int AMaxWidth, int AMaxHeight);

// Where the pictures for the taskbar go: the desktop window manager's functions, or a test's.
class TIconicPictures {
 public:
  virtual HRESULT SetThumbnail(HWND AWindow, HBITMAP APicture) = 0;
  virtual HRESULT SetLivePreview(HWND AWindow, HBITMAP APicture, POINT AOffset) = 0;

 protected:
  ~TIconicPictures() = default;
};
// Replaces the desktop window manager while it lives.
class TIconicPicturesOverride {
 public:
  explicit TIconicPicturesOverride(TIconicPictures& APictures);
  ~TIconicPicturesOverride();
  TIconicPicturesOverride(const TIconicPicturesOverride&) = delete;
  TIconicPicturesOverride& operator=(const TIconicPicturesOverride&) = delete;

 private:
  TIconicPictures* FPrevious;
};

// Tells the desktop window manager that the taskbar's picture of the main window is out of
// date; it asks again when it next shows it.
void TaskbarPictureChanged();

}  // namespace bunkmere::win32
