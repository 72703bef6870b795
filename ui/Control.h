#pragma once
// TControl: a visible component placed on a form. It owns its peer (the toolkit's control) and
// keeps the stored properties (bounds, anchors, caption, font, tab order, visibility) as the
// truth; the peer only mirrors them, so a control can be built and read before it has a parent
// or a display.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/Component.h"
#include "ui/Font.h"
#include "ui/Graphics.h"
#include "ui/Peers.h"

namespace bunkmere {

class TForm;

// An event handler taking the component that raised it.
using TNotifyEvent = std::function<void(TComponent* Sender)>;

class TControl : public TComponent, public TPeerEvents {
 public:
  ~TControl() override;
  const char* ClassName() const noexcept override { return "TControl"; }

  int Left() const { return BoundsRect().Left; }
  int Top() const { return BoundsRect().Top; }
  int Width() const { return BoundsRect().Width; }
  int Height() const { return BoundsRect().Height; }
  void SetLeft(int AValue) { SetBounds(AValue, FBounds.Top, FBounds.Width, FBounds.Height); }
  void SetTop(int AValue) { SetBounds(FBounds.Left, AValue, FBounds.Width, FBounds.Height); }
  void SetWidth(int AValue) { SetBounds(FBounds.Left, FBounds.Top, AValue, FBounds.Height); }
  void SetHeight(int AValue) { SetBounds(FBounds.Left, FBounds.Top, FBounds.Width, AValue); }
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  const TRect& BoundsRect() const {
    SyncSize();
    return FBounds;
  }

  TAnchors Anchors() const noexcept { return FAnchors; }
  void SetAnchors(TAnchors AValue);

  bool Visible() const noexcept { return FVisible; }
  void SetVisible(bool AValue);

  const std::string& Caption() const noexcept { return FCaption; }
  void SetCaption(const std::string& AValue);

  // The control's own font; setting any part of it stops following the parent's font.
  const TFontData& Font() const noexcept { return FFont.Data(); }
  TFont& FontObject() noexcept { return FFont; }
  void SetFont(const TFontData& AValue);
  bool ParentFont() const noexcept { return FParentFont; }
  void SetParentFont(bool AValue);

  int TabOrder() const noexcept { return FTabOrder; }
  void SetTabOrder(int AValue) { FTabOrder = AValue; }
  bool TabStop() const noexcept { return FTabStop; }
  void SetTabStop(bool AValue);

  TForm* Parent() const noexcept { return FParent; }
  void SetParent(TForm* AParent);
  // A description nests controls in the form that shows them.
  void SetParentComponent(TComponent* AParent) override;
  TComponent* GetParentComponent() const override;
  void Loaded() override;
  // Makes the native control now that its parent and every stored property are known.
  void Realise();

  // Paints the control now, without waiting for the event loop (the pass runs on the UI
  // thread and never returns to it until it ends); on a form, as the form's Repaint does.
  void Repaint();
  // Applies to the peer what the control has held back from it: done before the control's
  // window is painted, and soon after the change through a posted call.
  virtual void BringUpToDate() { SyncSize(); }

  TControlPeer& Peer() const noexcept { return *FPeer; }

  // Scales bounds and an own font by AMultiplier / ADivisor (screen density over design).
  virtual void ChangeScale(int AMultiplier, int ADivisor);
  // The parent's client area changed size (maximise, restore): re-apply the anchors.
  void ParentResized(int AClientWidth, int AClientHeight);
  // The parent's font changed; followed when ParentFont holds.
  void ParentFontChanged(const TFontData& AFont);

 protected:
  TControl(TComponent* AOwner, std::unique_ptr<TControlPeer> APeer, bool ATabStop);
  virtual void CaptionChanged() {}
  virtual void FontChanged();
  // Recomputes a self-sizing control's bounds from its text and font.
  virtual void AdjustSize() {}
  // AdjustSize, for a change that may come thousands of times a second (a caption showing
  // progress): on a showing window, measuring the text waits until the bounds are read or the
  // window is painted, so only the caption that is seen is measured.
  void RequestAdjustSize();
  // Calls BringUpToDate through the event loop, once until it has run.
  void PostBringUpToDate();

 private:
  void ApplyBounds();
  void RecordAnchorRules();
  void SyncSize() const {
    if (FSizePending) const_cast<TControl*>(this)->ApplyPendingSize();
  }
  void ApplyPendingSize();

  std::unique_ptr<TControlPeer> FPeer;
  TForm* FParent = nullptr;
  TRect FBounds;
  std::optional<TRect> FPeerBounds;  // what the peer was last given
  std::optional<TFontData> FPeerFont;
  // Bounds and parent client size when the anchors were last fixed: anchoring always works
  // from these, so repeated maximise/restore never accumulates rounding.
  TRect FAnchorBounds;
  int FAnchorParentWidth = 0;
  int FAnchorParentHeight = 0;
  bool FAnchoring = false;
  TAnchors FAnchors = DefaultAnchors;
  bool FVisible = true;
  std::string FCaption;
  TFont FFont;
  bool FParentFont = true;
  bool FFollowingParent = false;  // a font change that comes from the parent
  int FTabOrder = -1;
  bool FTabStop = false;
  bool FSizePending = false;
  bool FBringUpToDatePosted = false;
};

}  // namespace bunkmere
