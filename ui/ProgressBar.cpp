#include "ui/ProgressBar.h"

#include <algorithm>
#include <cstdint>

#include "ui/Form.h"

namespace bunkmere {

TProgressBar::TProgressBar(TComponent* AOwner)
    : TControl(AOwner, PeerFactory().CreateProgressBar(*this), false) {
  Apply();
}

void TProgressBar::Apply() {
  // On a showing window the bar is brought up to date when the window is painted: a bar
  // stepped thousands of times a second shows only where it stands at each paint.
  if (Parent() != nullptr && Parent()->Showing()) {
    FApplyPending = true;
    PostBringUpToDate();
    return;
  }
  ApplyNow();
}

void TProgressBar::BringUpToDate() {
  if (FApplyPending) ApplyNow();
  TControl::BringUpToDate();
}

void TProgressBar::ApplyNow() {
  FApplyPending = false;
  const int max = std::max(FMin, FMax);
  if (FShownMin == FMin && FShownMax == max && FShownPosition == FPosition) return;
  FShownMin = FMin;
  FShownMax = max;
  FShownPosition = FPosition;
  BarPeer().SetState(FMin, max, FPosition);
}

void TProgressBar::SetMin(int AValue) {
  FMin = AValue;
  if (FMax < FMin) FMax = FMin;
  FPosition = std::clamp(FPosition, FMin, FMax);
  Apply();
}

void TProgressBar::SetMax(int AValue) {
  FMax = std::max(AValue, FMin);
  FPosition = std::clamp(FPosition, FMin, FMax);
  Apply();
}

void TProgressBar::SetPosition(int AValue) {
  FPosition = std::clamp(AValue, FMin, FMax);
  Apply();
}

void TProgressBar::StepIt() {
  StepBy(FStep);
}

void TProgressBar::StepBy(int ADelta) {
  std::int64_t pos = static_cast<std::int64_t>(FPosition) + ADelta;
  const std::int64_t range = static_cast<std::int64_t>(FMax) - FMin;
  if (pos > FMax) {
    // Start over from the beginning of the range with what passed the maximum; an empty range
    // has nowhere to go but its minimum.
    pos = range > 0 ? FMin + (pos - FMin) % range : FMin;
  } else if (pos < FMin) {
    pos = FMin;
  }
  FPosition = static_cast<int>(pos);
  Apply();
}

}  // namespace bunkmere
