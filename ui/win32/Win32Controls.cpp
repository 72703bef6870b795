// The small kinds of control on their standard controls: label (static), button and progress
// bar. The log's edit control has a file of its own (Win32Memo.cpp).

#include "ui/win32/Win32Control.h"
// After windows.h, which it needs.
#include <commctrl.h>

namespace bunkmere::win32 {
namespace {

class TWin32LabelPeer final : public TWin32ControlPeer<TLabelPeer> {
 public:
  // No prefix: the label is given its text with the ampersand rule already applied.
  explicit TWin32LabelPeer(TPeerEvents& AEvents)
      : TWin32ControlPeer(AEvents, L"STATIC", SS_LEFT | SS_NOPREFIX) {}
  void SetText(const std::string& AText) override { DoSetText(Wide(AText)); }
  std::pair<int, int> TextExtent(const std::string& AText) const override {
    // A label not yet on a window measures on the screen, as it will draw there.
    const HDC dc = GetDC(Handle());
    if (dc == nullptr) return {0, 0};
    const HGDIOBJ old =
        SelectObject(dc, Font() ? static_cast<HGDIOBJ>(Font()) : GetStockObject(DEFAULT_GUI_FONT));
    const std::wstring text = Wide(AText);
    SIZE size{0, 0};
    if (!text.empty())
      GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(Handle(), dc);
    // An empty label keeps the height of one line.
    return {size.cx, metrics.tmHeight};
  }
};

class TWin32ButtonPeer final : public TWin32ControlPeer<TButtonPeer> {
 public:
  explicit TWin32ButtonPeer(TPeerEvents& AEvents)
      : TWin32ControlPeer(AEvents, L"BUTTON", BS_PUSHBUTTON) {}
  // The button draws the ampersand rule itself.
  void SetText(const std::string& AText) override { DoSetText(Wide(AText)); }

 protected:
  void BeforeMessage(UINT AMessage) override {
    // The focused button is the default one: it shows the default frame and Enter presses it,
    // as in every dialog.
    if (AMessage == WM_SETFOCUS)
      SendMessageW(Handle(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    else if (AMessage == WM_KILLFOCUS)
      SendMessageW(Handle(), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  }
};

class TWin32ProgressBarPeer final : public TWin32ControlPeer<TProgressBarPeer> {
 public:
  explicit TWin32ProgressBarPeer(TPeerEvents& AEvents)
      : TWin32ControlPeer(AEvents, PROGRESS_CLASSW, 0) {}
  void SetState(int AMin, int AMax, int APosition) override {
    if (AMin == FMin && AMax == FMax && APosition == FPosition) return;
    const bool range = AMin != FMin || AMax != FMax;
    FMin = AMin;
    FMax = AMax;
    FPosition = APosition;
    if (Handle() == nullptr) return;
    if (range) SendMessageW(Handle(), PBM_SETRANGE32, AMin, AMax);
    SendMessageW(Handle(), PBM_SETPOS, static_cast<WPARAM>(APosition), 0);
  }

 protected:
  void RestoreState() override {
    SendMessageW(Handle(), PBM_SETRANGE32, FMin, FMax);
    SendMessageW(Handle(), PBM_SETPOS, static_cast<WPARAM>(FPosition), 0);
  }

 private:
  // The control's own starting state.
  int FMin = 0, FMax = 100, FPosition = 0;
};

}  // namespace

std::unique_ptr<TLabelPeer> MakeLabelPeer(TPeerEvents& AEvents) {
  return std::make_unique<TWin32LabelPeer>(AEvents);
}

std::unique_ptr<TButtonPeer> MakeButtonPeer(TPeerEvents& AEvents) {
  return std::make_unique<TWin32ButtonPeer>(AEvents);
}

std::unique_ptr<TProgressBarPeer> MakeProgressBarPeer(TPeerEvents& AEvents) {
  return std::make_unique<TWin32ProgressBarPeer>(AEvents);
}

}  // namespace bunkmere::win32
