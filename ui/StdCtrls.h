#pragma once
// The standard controls the main window is built from: a self-sizing label, a push button
// and a multi-line text box. TProgressBar lives in ui/ProgressBar.h.

#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "ui/Control.h"

class QLabel;
class QPushButton;
class QPlainTextEdit;

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
  QLabel& Label() const;
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

 protected:
  void CaptionChanged() override;

 private:
  QPushButton& Button() const;
  TNotifyEvent FOnClick;
  std::string FOnClickName;
};

enum class TScrollStyle : std::uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };

class TMemo : public TControl {
 public:
  explicit TMemo(TComponent* AOwner);
  ~TMemo() override;
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
    FlushPending();
    TControl::BringUpToDate();
  }

 private:
  class TPendingFlusher;

  QPlainTextEdit& Edit() const;
  // Puts the lines added since the last time into the box, in one edit.
  void FlushPending() const;

  // Lines added but not yet in the box. Appending line by line makes Qt lay out the new line
  // and scroll the box's pixels for every one, which dominated a pass that logs tens of
  // thousands of lines; they go in together before the box is read, repainted or touched.
  mutable QString FPending;
  mutable bool FHasPending = false;
  std::unique_ptr<TPendingFlusher> FFlusher;
  TScrollStyle FScrollBars = TScrollStyle::ssNone;
  bool FWordWrap = true;
  bool FReadOnly = false;
};

}  // namespace bunkmere
