#pragma once
// TProgressBar: position, range and step kept here and mirrored to the peer's progress bar. Setting
// the position clamps it to the range; a step that passes the maximum starts over from the
// beginning of the range, as the native progress control does.

#include "ui/Control.h"

namespace bunkmere {

class TProgressBar : public TControl {
 public:
  explicit TProgressBar(TComponent* AOwner);
  const char* ClassName() const noexcept override { return "TProgressBar"; }

  int Min() const noexcept { return FMin; }
  int Max() const noexcept { return FMax; }
  int Position() const noexcept { return FPosition; }
  int Step() const noexcept { return FStep; }
  void SetMin(int AValue);
  void SetMax(int AValue);
  void SetPosition(int AValue);
  void SetStep(int AValue) { FStep = AValue; }
  // Advances by Step, wrapping past the maximum.
  void StepIt();
  void StepBy(int ADelta);

  void BringUpToDate() override;

 private:
  TProgressBarPeer& BarPeer() const { return static_cast<TProgressBarPeer&>(Peer()); }
  void Apply();
  void ApplyNow();
  bool FApplyPending = false;
  // What the peer was last given; it is told only of a change.
  int FShownMin = 0, FShownMax = -1, FShownPosition = 0;
  int FMin = 0;
  int FMax = 100;
  int FPosition = 0;
  int FStep = 10;
};

}  // namespace bunkmere
