#pragma once
// The standard controls the main window is built from: a self-sizing label, a push button
// and a multi-line text box. TProgressBar lives in ui/ProgressBar.h.

#include <memory>
#include <string>
#include <vector>

#include "ui/Control.h"

namespace bunkmere {

// A caption drawn as plain text: markup in it is shown, never interpreted, since the pass puts
// database text into labels.
class TLabel : public TControl {
 public:
  explicit TLabel(TComponent* AOwner);
  const char* ClassName() const noexcept override { return "TLabel"; }

  // Labels size themselves to their text unless told otherwise.
  bool AutoSize() const noexcept { return FAutoSize; }
  void SetAutoSize(bool AValue);
  // The text as drawn (the caption after the ampersand rule).
  std::string DisplayText() const;

 protected:
  void CaptionChanged() override;
  void AdjustSize() override;

 private:
  TLabelPeer& LabelPeer() const { return static_cast<TLabelPeer&>(Peer()); }
  bool FAutoSize = true;
};

class TButton : public TControl {
 public:
  explicit TButton(TComponent* AOwner);
  const char* ClassName() const noexcept override { return "TButton"; }

  const TNotifyEvent& OnClick() const noexcept { return FOnClick; }
  void SetOnClick(TNotifyEvent AHandler) { FOnClick = std::move(AHandler); }
  // The handler name a description binds; resolved against the owning form when loaded.
  const std::string& OnClickName() const noexcept { return FOnClickName; }
  void SetOnClickName(const std::string& AName);

  // Runs the click handler as a user's click does: a failure escaping it goes to the
  // application's error box and the program goes on.
  void Click();
  void Loaded() override;
  void PeerClicked() override { Click(); }

 protected:
  void CaptionChanged() override;

 private:
  TButtonPeer& ButtonPeer() const { return static_cast<TButtonPeer&>(Peer()); }
  TNotifyEvent FOnClick;
  std::string FOnClickName;
};

enum class TScrollStyle : std::uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };

class TMemo : public TControl {
 public:
  explicit TMemo(TComponent* AOwner);
  const char* ClassName() const noexcept override { return "TMemo"; }

  TScrollStyle ScrollBars() const noexcept { return FScrollBars; }
  void SetScrollBars(TScrollStyle AValue);
  bool WordWrap() const noexcept { return FWordWrap; }
  void SetWordWrap(bool AValue);
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool AValue);

  // Lines as the box holds them now, including what a user typed; a last empty line (the
  // box ending in a line break) is not a line.
  std::vector<std::string> Lines() const;
  void SetLines(const std::vector<std::string>& ALines);
  void Add(const std::string& ALine);
  void Clear();
  // The box's text as a text file holds it: every line followed by CR LF.
  std::string LinesText() const;

  void BringUpToDate() override {
    MemoPeer().BringUpToDate();
    TControl::BringUpToDate();
  }

 private:
  TMemoPeer& MemoPeer() const { return static_cast<TMemoPeer&>(Peer()); }
  void ApplyScrollBars();

  TScrollStyle FScrollBars = TScrollStyle::ssNone;
  bool FWordWrap = true;
  bool FReadOnly = false;
};

}  // namespace bunkmere
