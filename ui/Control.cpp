#include "ui/Control.h"

#include "ui/Form.h"

namespace bunkmere {

TControl::TControl(TComponent* AOwner, std::unique_ptr<TControlPeer> APeer, bool ATabStop)
    : TComponent(AOwner), FPeer(std::move(APeer)), FTabStop(ATabStop) {
  FPeer->SetTabStop(ATabStop);
  FPeerFont = FFont.Data();
  FPeer->SetFont(FFont.Data());
  FFont.IsStored = [this] { return !FParentFont; };
  FFont.OnChange = [this] {
    // A font set on the control itself stops it following its parent's.
    if (!FFollowingParent) FParentFont = false;
    FontChanged();
  };
}

TControl::~TControl() {
  Destroying();
  if (FParent != nullptr) FParent->RemoveControl(this);
  FParent = nullptr;
  // The peer goes first: nothing it reports can reach a control being torn down.
  FPeer.reset();
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  // Bounds given outright replace a size still waiting to be measured, as they would have
  // replaced it had it been measured at once.
  FSizePending = false;
  FBounds = TRect{ALeft, ATop, AWidth < 0 ? 0 : AWidth, AHeight < 0 ? 0 : AHeight};
  if (!FAnchoring) RecordAnchorRules();
  ApplyBounds();
}

void TControl::ApplyBounds() {
  if (FPeerBounds == FBounds) return;
  FPeerBounds = FBounds;
  FPeer->SetBounds(FBounds);
}

void TControl::RequestAdjustSize() {
  if (FParent == nullptr || !FParent->Showing() || IsLoading()) {
    AdjustSize();
    return;
  }
  FSizePending = true;
  PostBringUpToDate();
}

void TControl::ApplyPendingSize() {
  FSizePending = false;
  AdjustSize();
}

void TControl::PostBringUpToDate() {
  if (FBringUpToDatePosted) return;
  FBringUpToDatePosted = true;
  // The peer is the call's context: a control freed first takes the call with it.
  FPeer->Post([this] {
    FBringUpToDatePosted = false;
    BringUpToDate();
  });
}

void TControl::RecordAnchorRules() {
  SyncSize();
  FAnchorBounds = FBounds;
  if (FParent != nullptr) {
    FAnchorParentWidth = FParent->ClientWidth();
    FAnchorParentHeight = FParent->ClientHeight();
  }
}

void TControl::SetAnchors(TAnchors AValue) {
  FAnchors = AValue;
  RecordAnchorRules();
}

void TControl::ParentResized(int AClientWidth, int AClientHeight) {
  SyncSize();
  if (FAnchorParentWidth <= 0 || FAnchorParentHeight <= 0) return;
  const TRect r = AnchoredBounds(FAnchorBounds, FAnchorParentWidth, FAnchorParentHeight, FAnchors,
                                 AClientWidth, AClientHeight);
  FAnchoring = true;
  SetBounds(r.Left, r.Top, r.Width, r.Height);
  FAnchoring = false;
}

void TControl::SetVisible(bool AValue) {
  if (AValue == FVisible) return;
  FVisible = AValue;
  if (FParent != nullptr) FPeer->SetVisible(AValue);
}

void TControl::SetCaption(const std::string& AValue) {
  if (AValue == FCaption) return;
  FCaption = AValue;
  CaptionChanged();
  RequestAdjustSize();
}

void TControl::SetFont(const TFontData& AValue) {
  FFont.Assign(AValue);
}

void TControl::SetParentFont(bool AValue) {
  FParentFont = AValue;
  if (AValue && FParent != nullptr) ParentFontChanged(FParent->Font());
}

void TControl::ParentFontChanged(const TFontData& AFont) {
  if (!FParentFont) return;
  FFollowingParent = true;
  FFont.Assign(AFont);
  FFollowingParent = false;
}

void TControl::FontChanged() {
  if (FPeerFont != FFont.Data()) {
    FPeerFont = FFont.Data();
    FPeer->SetFont(FFont.Data());
  }
  AdjustSize();
}

void TControl::SetTabStop(bool AValue) {
  if (AValue == FTabStop) return;
  FTabStop = AValue;
  FPeer->SetTabStop(AValue);
}

void TControl::SetParent(TForm* AParent) {
  if (AParent == FParent) return;
  if (FParent != nullptr) FParent->RemoveControl(this);
  FParent = AParent;
  if (FParent == nullptr) {
    FPeer->SetParent(nullptr);
    return;
  }
  SyncSize();
  FParent->InsertControl(this);
  FPeer->SetParent(&FParent->Peer());
  if (FParentFont) ParentFontChanged(FParent->Font());
  RecordAnchorRules();
  ApplyBounds();
  FPeer->SetVisible(FVisible);
  // A control read from a description waits for all its properties (Loaded).
  if (!IsLoading()) FPeer->Realise();
}

void TControl::Realise() {
  if (FParent != nullptr) FPeer->Realise();
}

void TControl::SetParentComponent(TComponent* AParent) {
  if (auto* form = dynamic_cast<TForm*>(AParent)) SetParent(form);
}

TComponent* TControl::GetParentComponent() const {
  return FParent;
}

void TControl::Loaded() {
  TComponent::Loaded();
  Realise();
  AdjustSize();
}

void TControl::Repaint() {
  // On a form, the form paints it with whatever else changed, at the pace the screen shows,
  // bringing it up to date first.
  if (FParent != nullptr) {
    FPeer->Invalidate();
    FParent->Repaint();
    return;
  }
  BringUpToDate();
  FPeer->PaintNow();
}

void TControl::ChangeScale(int AMultiplier, int ADivisor) {
  SyncSize();
  if (!FParentFont) {
    FFont.SetHeight(ScaleLength(FFont.Height(), AMultiplier, ADivisor));
  }
  SetBounds(ScaleLength(FBounds.Left, AMultiplier, ADivisor),
            ScaleLength(FBounds.Top, AMultiplier, ADivisor),
            ScaleLength(FBounds.Width, AMultiplier, ADivisor),
            ScaleLength(FBounds.Height, AMultiplier, ADivisor));
}

}  // namespace bunkmere
