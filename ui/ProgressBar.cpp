#include "ui/ProgressBar.h"

#include <QProgressBar>
#include <algorithm>
#include <cstdint>

#include "ui/QtBridge.h"

namespace bunkmere {

TProgressBar::TProgressBar(TComponent* AOwner)
    : TControl(AOwner, std::make_unique<QProgressBar>(), false) {
  Bar().setTextVisible(false);
  if (QStyle* style = ClassicStyle()) Bar().setStyle(style);
  Apply();
}

QProgressBar& TProgressBar::Bar() const {
  return static_cast<QProgressBar&>(*Widget());
}

void TProgressBar::Apply() {
  Bar().setRange(FMin, std::max(FMin, FMax));
  Bar().setValue(FPosition);
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
