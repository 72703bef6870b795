#pragma once
// TApplication: the process's application (the toolkit's, through its peer), its title and icon,
// its message boxes and its last-resort handling of failures that escape an event handler. One
// exists per process (created by the program's entry, or by a test's main); Application() reaches
// it.
//
// Message boxes go through TMessageBoxes, the one seam between the program and a person:
// the real one shows the toolkit's message boxes, tests install their own and answer them.

#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/Peers.h"

namespace bunkmere {

class TForm;

class TMessageBoxes {
 public:
  virtual ~TMessageBoxes() = default;
  // Shows a modal box with an OK button and returns once it is dismissed.
  virtual void Show(const std::string& ACaption, const std::string& AText, TMsgDlgType AType) = 0;
};

class TApplication {
 public:
  // AProgram is argv[0]; no other argument is given to the toolkit, so none is read. APeers
  // is the backend every control of the process gets its peer from: the toolkit's when null.
  explicit TApplication(const char* AProgram, TPeerFactory* APeers = nullptr);
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  const std::string& Title() const noexcept { return FTitle; }
  void SetTitle(const std::string& AValue);
  // False (the default): the taskbar button and the task switcher's entry belong to the
  // application and show its title; true: the main window has its own, showing its caption.
  // Set before the main window is created.
  bool MainFormOnTaskBar() const noexcept { return FMainFormOnTaskBar; }
  void SetMainFormOnTaskBar(bool AValue);
  // Sets the icon of every window from image bytes (PNG); ignored if they do not decode.
  void SetIcon(std::string_view AImage);

  // A modal box with an OK button, captioned with the application title.
  void ShowMessage(const std::string& AText);
  // The application's error box: title caption, error icon, the message with a full stop
  // appended after a last character that sorts after it.
  void ShowException(const std::exception& AFailure);
  // A failure escaped an event handler: show it and go on.
  void HandleException(const std::exception& AFailure);

  TMessageBoxes& MessageBoxes() const noexcept { return *FMessageBoxes; }
  TPeerFactory& Peers() const noexcept { return *FPeers; }

  // Shows AMainForm and runs the message loop until it closes; returns the exit code.
  int Run(TForm& AMainForm);
  // Runs pending events once (tests, and nothing else: the pass never returns to the loop).
  void ProcessMessages();

 private:
  friend class TMessageBoxesOverride;
  TPeerFactory* FPeers;
  std::unique_ptr<TApplicationPeer> FPeer;
  std::unique_ptr<TMessageBoxes> FPeerBoxes;
  TMessageBoxes* FMessageBoxes = nullptr;
  std::string FTitle;
  bool FMainFormOnTaskBar = false;
};

// The application of this process; raises Exception when none exists.
TApplication& Application();
bool ApplicationExists() noexcept;

// Replaces the message boxes for its lifetime (tests answer boxes through this).
class TMessageBoxesOverride {
 public:
  explicit TMessageBoxesOverride(TMessageBoxes& ABoxes);
  ~TMessageBoxesOverride();
  TMessageBoxesOverride(const TMessageBoxesOverride&) = delete;
  TMessageBoxesOverride& operator=(const TMessageBoxesOverride&) = delete;

 private:
  TMessageBoxes* FPrevious;
};

}  // namespace bunkmere
