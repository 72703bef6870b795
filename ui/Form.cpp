#include "ui/Form.h"

#include <algorithm>
#include <cmath>

namespace bunkmere {

TForm::TForm(TComponent* AOwner) : TComponent(AOwner), FPeer(PeerFactory().CreateForm(*this)) {
  FPeer->SetColor(FColor);
  FPeer->SetFont(FFont.Data());
  FFont.OnChange = [this] {
    FPeer->SetFont(FFont.Data());
    for (TControl* c : FControls) c->ParentFontChanged(FFont.Data());
  };
  ApplyWindowFlags();
}

TForm::~TForm() {
  Destroying();
  // Controls are children of the window: free them (or, for controls someone else owns,
  // detach them) while the window still exists, so the toolkit never frees a control's peer.
  DestroyComponents();
  while (!FControls.empty()) FControls.back()->SetParent(nullptr);
}

void TForm::SetCaption(const std::string& AValue) {
  if (AValue == FCaption) return;
  FCaption = AValue;
  FPeer->SetCaption(AValue);
}

void TForm::SetLeft(int AValue) {
  if (AValue == FLeft) return;
  FLeft = AValue;
  FPeer->Move(FLeft, FTop);
}

void TForm::SetTop(int AValue) {
  if (AValue == FTop) return;
  FTop = AValue;
  FPeer->Move(FLeft, FTop);
}

void TForm::SetClientWidth(int AValue) {
  FClientWidth = std::max(AValue, 0);
  ApplySizeConstraints();
}

void TForm::SetClientHeight(int AValue) {
  FClientHeight = std::max(AValue, 0);
  ApplySizeConstraints();
}

void TForm::SetColor(TColor AValue) {
  if (AValue == FColor) return;
  FColor = AValue;
  FPeer->SetColor(AValue);
}

void TForm::SetFont(const TFontData& AValue) {
  FFont.Assign(AValue);
}

void TForm::SetBorderStyle(TFormBorderStyle AValue) {
  FBorderStyle = AValue;
  ApplyWindowFlags();
  ApplySizeConstraints();
}

void TForm::SetBorderIcons(std::uint8_t AValue) {
  FBorderIcons = AValue & 0x07;
  ApplyWindowFlags();
}

void TForm::ApplyWindowFlags() {
  FPeer->SetBorder(FBorderStyle, FBorderIcons);
}

void TForm::ApplySizeConstraints() {
  const bool fixed = FBorderStyle != TFormBorderStyle::bsSizeable;
  // A fixed border: the user cannot drag the size, but maximising still works, so the
  // limits are lifted while maximised.
  const bool normal = FWindowState == TWindowState::wsNormal;
  FPeer->SetClientSize(FClientWidth, FClientHeight, fixed && normal, normal);
}

void TForm::ClientResized(int AWidth, int AHeight) {
  if (FWindowState == TWindowState::wsNormal && !FPeer->IsMaximized()) {
    // A resize that is not a maximise defines the client size (sizeable borders only; a fixed
    // border never gets here with another size).
    FClientWidth = AWidth;
    FClientHeight = AHeight;
  }
  for (TControl* c : FControls) c->ParentResized(AWidth, AHeight);
}

void TForm::SetWindowState(TWindowState AValue) {
  if (AValue == FWindowState) return;
  FWindowState = AValue;
  ApplySizeConstraints();
  if (!FShown || FStateFromPeer) return;
  FPeer->SetWindowState(AValue);
}

void TForm::PeerWindowStateChanged(TWindowState AState) {
  FStateFromPeer = true;
  SetWindowState(AState);
  FStateFromPeer = false;
}

int TForm::ScreenPixelsPerInch() const {
  if (FScreenPixelsPerInch > 0) return FScreenPixelsPerInch;
  const int screen = FPeer->ScreenPixelsPerInch();
  return screen > 0 ? screen : FPixelsPerInch;
}

void TForm::ScaleBy(int AMultiplier, int ADivisor) {
  if (AMultiplier == ADivisor || AMultiplier <= 0 || ADivisor <= 0) return;
  FClientWidth = ScaleLength(FClientWidth, AMultiplier, ADivisor);
  FClientHeight = ScaleLength(FClientHeight, AMultiplier, ADivisor);
  // The form's font change reaches the controls that follow it; the others scale their own.
  FFont.SetHeight(ScaleLength(FFont.Height(), AMultiplier, ADivisor));
  for (TControl* c : FControls) c->ChangeScale(AMultiplier, ADivisor);
  // Only now the window itself: the controls, already scaled, take the new client size as the
  // one their anchors start from. Resized first, the window would move the anchored controls
  // by the growth and the scaling would then scale that move as well.
  ApplySizeConstraints();
}

void TForm::Loaded() {
  TComponent::Loaded();
  // Controls stored directly in the form's block show on the form.
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* c = dynamic_cast<TControl*>(Components(i)); c != nullptr && c->Parent() == nullptr)
      c->SetParent(this);
  const int screen = ScreenPixelsPerInch();
  if (FPixelsPerInch > 0 && screen != FPixelsPerInch) {
    ScaleBy(screen, FPixelsPerInch);
    FPixelsPerInch = screen;
  }
  // The controls' own Loaded comes after this one: the tab order needs their native controls.
  for (TControl* c : FControls) c->Realise();
  ApplyTabOrder();
}

void TForm::PeerDensityChanged(int APixelsPerInch, const TRect& ASuggested) {
  if (APixelsPerInch <= 0 || FPixelsPerInch <= 0) return;
  if (APixelsPerInch != FPixelsPerInch) {
    ScaleBy(APixelsPerInch, FPixelsPerInch);
    FPixelsPerInch = APixelsPerInch;
  }
  FLeft = ASuggested.Left;
  FTop = ASuggested.Top;
  FPeer->Move(FLeft, FTop);
}

std::vector<TControl*> TForm::TabList() const {
  std::vector<TControl*> list;
  for (TControl* c : FControls)
    if (c->TabStop() && c->TabOrder() >= 0) list.push_back(c);
  std::stable_sort(list.begin(), list.end(),
                   [](TControl* a, TControl* b) { return a->TabOrder() < b->TabOrder(); });
  return list;
}

TControl* TForm::ActiveControl() const {
  for (TControl* c : TabList())
    if (c->Visible()) return c;
  return nullptr;
}

void TForm::ApplyTabOrder() {
  const auto list = TabList();
  std::vector<TControlPeer*> peers;
  for (TControl* c : list) peers.push_back(&c->Peer());
  FPeer->SetTabOrder(peers);
  // Focus given before the window is shown is remembered and takes effect when it opens.
  if (TControl* first = ActiveControl()) first->Peer().SetFocus();
}

void TForm::Show() {
  ApplySizeConstraints();
  if (FPosition == TPosition::poScreenCenter) {
    if (const auto area = FPeer->ScreenWorkArea()) {
      // The whole window is centred, frame and title bar included, where the toolkit knows them.
      const auto [width, height] =
          FPeer->OuterSize().value_or(std::pair<int, int>{FClientWidth, FClientHeight});
      FLeft = area->Left + (area->Width - width) / 2;
      FTop = area->Top + (area->Height - height) / 2;
    }
  }
  FPeer->Move(FLeft, FTop);
  FShown = true;
  FPeer->Show(FWindowState);
  if (TControl* first = ActiveControl()) first->Peer().SetFocus();
}

void TForm::Close() {
  FPeer->Close();
  FShown = false;
}

bool TForm::Showing() const {
  return FPeer->IsVisible();
}

std::chrono::nanoseconds TForm::FrameInterval() const {
  if (FFrameInterval) return *FFrameInterval;
  const double hz = FPeer->ScreenRefreshRate();
  // A screen that reports nothing sensible is taken to show 60 frames a second.
  const double rate = hz >= 20.0 && hz <= 1000.0 ? hz : 60.0;
  return std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 / rate));
}

void TForm::Repaint() {
  if (!FPeer->IsVisible()) return;
  const auto now = std::chrono::steady_clock::now();
  if (FLastRepaint && now - *FLastRepaint < FNextRepaintAfter) return;
  FLastRepaint = now;
  // The peer delivers what its toolkit deferred, then paints (bringing the controls up to date
  // on the way); no input is handled here, so no click runs inside a handler.
  FPeer->PaintNow();
  // Painting takes at most one part in kPaintShare of a long handler's time.
  constexpr int kPaintShare = 20;
  FNextRepaintAfter =
      FFrameInterval ? *FFrameInterval
                     : std::max<std::chrono::nanoseconds>(
                           FrameInterval(), (std::chrono::steady_clock::now() - now) * kPaintShare);
}

void TForm::BringControlsUpToDate() {
  for (TControl* c : FControls) c->BringUpToDate();
}

TNotifyEvent TForm::MethodAddress(const std::string& AName) const {
  auto it = FMethods.find(AName);
  return it == FMethods.end() ? TNotifyEvent{} : it->second;
}

void TForm::PublishMethod(const std::string& AName, TNotifyEvent AHandler) {
  FMethods[AName] = std::move(AHandler);
}

void TForm::InsertControl(TControl* AControl) {
  if (std::find(FControls.begin(), FControls.end(), AControl) == FControls.end())
    FControls.push_back(AControl);
}

void TForm::RemoveControl(TControl* AControl) {
  FControls.erase(std::remove(FControls.begin(), FControls.end(), AControl), FControls.end());
}

}  // namespace bunkmere
