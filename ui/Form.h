#pragma once
// TForm: a top-level window built from its stored description. It owns its window's peer;
// the controls it owns are children of that window. The form applies what its description stores
// about the window itself: caption, client size, border and border icons, position, colour,
// font, and the density the layout was made at, which it scales to the screen's when loaded.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Component.h"
#include "ui/Control.h"
#include "ui/Font.h"
#include "ui/Graphics.h"
#include "ui/Peers.h"

namespace bunkmere {

enum class TPosition : std::uint8_t { poDesigned, poScreenCenter };

class TForm : public TComponent, public TPeerEvents {
 public:
  explicit TForm(TComponent* AOwner);
  ~TForm() override;
  const char* ClassName() const noexcept override { return "TForm"; }

  const std::string& Caption() const noexcept { return FCaption; }
  void SetCaption(const std::string& AValue);

  int Left() const noexcept { return FLeft; }
  int Top() const noexcept { return FTop; }
  void SetLeft(int AValue);
  void SetTop(int AValue);
  int ClientWidth() const noexcept { return FClientWidth; }
  int ClientHeight() const noexcept { return FClientHeight; }
  void SetClientWidth(int AValue);
  void SetClientHeight(int AValue);

  TColor Color() const noexcept { return FColor; }
  void SetColor(TColor AValue);
  const TFontData& Font() const noexcept { return FFont.Data(); }
  TFont& FontObject() noexcept { return FFont; }
  void SetFont(const TFontData& AValue);

  TFormBorderStyle BorderStyle() const noexcept { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle AValue);
  // Bits of TBorderIcon.
  std::uint8_t BorderIcons() const noexcept { return FBorderIcons; }
  void SetBorderIcons(std::uint8_t AValue);
  TPosition Position() const noexcept { return FPosition; }
  void SetPosition(TPosition AValue) { FPosition = AValue; }

  // The density the description was laid out at; the form scales from it when loaded.
  int PixelsPerInch() const noexcept { return FPixelsPerInch; }
  void SetPixelsPerInch(int AValue) { FPixelsPerInch = AValue; }
  int TextHeight() const noexcept { return FTextHeight; }
  void SetTextHeight(int AValue) { FTextHeight = AValue; }
  bool OldCreateOrder() const noexcept { return FOldCreateOrder; }
  void SetOldCreateOrder(bool AValue) { FOldCreateOrder = AValue; }

  void Loaded() override;

  void Show();
  void Close();
  bool Showing() const;
  // Paints every part of the window that changed, now, without waiting for the event loop.
  // Repaints asked for within one frame of the screen after the last are left to the next
  // one (or to the event loop): a screen shows no more frames than that, and a long handler
  // that repaints after every small step would otherwise spend most of its time painting.
  // Where painting is slow (a long log, a slow machine), frames are spaced further so that
  // painting takes no more than a twentieth of the handler's time.
  void Repaint();
  // One frame of the window's screen, or the interval a test fixed.
  std::chrono::nanoseconds FrameInterval() const;
  // Fixes the time between two paints that Repaint makes, however long painting takes.
  void SetFrameInterval(std::chrono::nanoseconds AValue) {
    FFrameInterval = AValue;
    FNextRepaintAfter = AValue;
  }
  TWindowState WindowState() const noexcept { return FWindowState; }
  void SetWindowState(TWindowState AValue);

  // Scales the client size and every control by AMultiplier / ADivisor.
  void ScaleBy(int AMultiplier, int ADivisor);
  // The density Loaded scales to: the screen's logical density, or the one a test fixed.
  int ScreenPixelsPerInch() const;
  void SetScreenPixelsPerInch(int AValue) { FScreenPixelsPerInch = AValue; }

  // The control that gets the focus when the window opens: the first tab stop in tab order.
  TControl* ActiveControl() const;
  // Tab-stop controls in tab order.
  std::vector<TControl*> TabList() const;

  const std::vector<TControl*>& Controls() const noexcept { return FControls; }
  TFormPeer& Peer() const noexcept { return *FPeer; }

  // Event handlers a description may bind by name (OnClick = btnSaveClick). A form class
  // publishes its handlers here in its constructor.
  TNotifyEvent MethodAddress(const std::string& AName) const;

  // Called by TControl::SetParent.
  void InsertControl(TControl* AControl);
  void RemoveControl(TControl* AControl);
  // Told by the window when its client area changed size.
  void ClientResized(int AWidth, int AHeight);
  // Every control applies what it has held back; done before the window paints.
  void BringControlsUpToDate();

  void PeerClientResized(int AWidth, int AHeight) override { ClientResized(AWidth, AHeight); }
  void PeerWindowStateChanged(TWindowState AState) override;
  void PeerBeforePaint() override { BringControlsUpToDate(); }
  // The window went to a screen of another density: the layout and fonts scale from the
  // density they are at now, and the window takes the place the system suggests.
  void PeerDensityChanged(int APixelsPerInch, const TRect& ASuggested) override;

 protected:
  void PublishMethod(const std::string& AName, TNotifyEvent AHandler);

 private:
  void ApplyWindowFlags();
  void ApplySizeConstraints();
  void ApplyTabOrder();

  std::unique_ptr<TFormPeer> FPeer;
  std::optional<std::chrono::nanoseconds> FFrameInterval;
  std::optional<std::chrono::steady_clock::time_point> FLastRepaint;
  std::chrono::nanoseconds FNextRepaintAfter{0};
  std::vector<TControl*> FControls;
  std::map<std::string, TNotifyEvent> FMethods;
  std::string FCaption;
  int FLeft = 0, FTop = 0;
  int FClientWidth = 0, FClientHeight = 0;
  TColor FColor = clBtnFace;
  TFont FFont;
  TFormBorderStyle FBorderStyle = TFormBorderStyle::bsSizeable;
  std::uint8_t FBorderIcons = 0x07;
  TPosition FPosition = TPosition::poDesigned;
  int FPixelsPerInch = 96;
  int FTextHeight = 13;
  bool FOldCreateOrder = false;
  int FScreenPixelsPerInch = 0;
  TWindowState FWindowState = TWindowState::wsNormal;
  bool FShown = false;
  bool FStateFromPeer = false;  // the window reported the state: not sent back to it
};

}  // namespace bunkmere
