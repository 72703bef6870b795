#pragma once
// The seam between the controls and the toolkit that shows them. A control keeps every stored
// property and decides layout, anchors, scaling and pacing; its peer only mirrors what it is
// told in final pixels and reports what a person did through TPeerEvents. One toolkit backend
// is linked per program (ui/qt/ on Linux, ui/win32/ on Windows) and provides
// ToolkitPeerFactory(); the application may choose another backend at run time (a display-free
// one for unattended runs), and PeerFactory() answers with the one chosen. Nothing here names
// a toolkit.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/Graphics.h"

namespace bunkmere {

enum class TFormBorderStyle : std::uint8_t { bsNone, bsSingle, bsSizeable, bsDialog };
enum class TBorderIcon : std::uint8_t { biSystemMenu, biMinimize, biMaximize };
enum class TWindowState : std::uint8_t { wsNormal, wsMinimized, wsMaximized };
enum class TMsgDlgType { mtInformation, mtError };

// What a peer tells its control. The control records it and never echoes it back.
class TPeerEvents {
 public:
  virtual void PeerClicked() {}
  // The window's client area changed size (a person dragged it, maximised or restored it).
  virtual void PeerClientResized(int /*AWidth*/, int /*AHeight*/) {}
  virtual void PeerWindowStateChanged(TWindowState /*AState*/) {}
  // The window is about to paint: controls apply what they have held back.
  virtual void PeerBeforePaint() {}
  // The window moved to a screen of another density (logical pixels per inch); the window
  // suggests where it goes at the new density, in screen pixels.
  virtual void PeerDensityChanged(int /*APixelsPerInch*/, const TRect& /*ASuggested*/) {}

 protected:
  ~TPeerEvents() = default;
};

class TFormPeer;

class TControlPeer {
 public:
  virtual ~TControlPeer() = default;
  virtual void SetBounds(const TRect& ABounds) = 0;
  virtual void SetVisible(bool AValue) = 0;
  virtual void SetFont(const TFontData& AFont) = 0;
  virtual void SetTabStop(bool AValue) = 0;
  // Null takes the control off any window.
  virtual void SetParent(TFormPeer* AParent) = 0;
  virtual void SetFocus() = 0;
  // Marks the control for the next paint of its window.
  virtual void Invalidate() = 0;
  // Paints the control alone, now.
  virtual void PaintNow() = 0;
  // Runs ACall from the event loop; dropped when the peer goes first.
  virtual void Post(std::function<void()> ACall) = 0;
  // Makes the native control once it has a parent and the styles only making it can set
  // (scroll bars, wrapping) are known; until then the peer keeps what it is told. A later
  // change of such a style makes it anew, keeping its state. Toolkits that can change every
  // style at any time need do nothing.
  virtual void Realise() {}
};

class TLabelPeer : public TControlPeer {
 public:
  // AText is drawn as it is: no markup, no access keys.
  virtual void SetText(const std::string& AText) = 0;
  // Width and height of AText in the label's font (an empty text is one line high).
  virtual std::pair<int, int> TextExtent(const std::string& AText) const = 0;
};

class TButtonPeer : public TControlPeer {
 public:
  // An ampersand marks the access key, "&&" draws one.
  virtual void SetText(const std::string& AText) = 0;
};

class TMemoPeer : public TControlPeer {
 public:
  virtual void SetScrollBars(bool AVertical, bool AHorizontal) = 0;
  virtual void SetWordWrap(bool AValue) = 0;
  virtual void SetReadOnly(bool AValue) = 0;
  virtual bool IsEmpty() const = 0;
  // Appends a line at the end; the box follows the end while its end is in view. A peer may
  // hold lines back until BringUpToDate, Lines or a person's action.
  virtual void AddLine(const std::string& ALine) = 0;
  virtual void BringUpToDate() = 0;
  virtual std::vector<std::string> Lines() const = 0;
  virtual void Clear() = 0;
};

class TProgressBarPeer : public TControlPeer {
 public:
  virtual void SetState(int AMin, int AMax, int APosition) = 0;
};

class TFormPeer {
 public:
  virtual ~TFormPeer() = default;
  virtual void SetCaption(const std::string& AValue) = 0;
  // The window's outer top-left corner.
  virtual void Move(int ALeft, int ATop) = 0;
  virtual void SetColor(TColor AValue) = 0;
  virtual void SetFont(const TFontData& AFont) = 0;
  virtual void SetBorder(TFormBorderStyle AStyle, std::uint8_t ABorderIcons) = 0;
  // A fixed client size the user cannot drag, or none (AFixed false) with the client area
  // resized to the size given when AResize holds.
  virtual void SetClientSize(int AWidth, int AHeight, bool AFixed, bool AResize) = 0;
  virtual void Show(TWindowState AState) = 0;
  virtual void SetWindowState(TWindowState AState) = 0;
  virtual bool IsMaximized() const = 0;
  virtual void Close() = 0;
  virtual bool IsVisible() const = 0;
  // Focus moves through AControls in this order; the first gets it when the window opens.
  virtual void SetTabOrder(const std::vector<TControlPeer*>& AControls) = 0;
  // The work area of the screen the window opens on, when known.
  virtual std::optional<TRect> ScreenWorkArea() const = 0;
  // The screen's logical density, 0 when unknown.
  virtual int ScreenPixelsPerInch() const = 0;
  // Frames a second of the window's screen, 0 when unknown.
  virtual double ScreenRefreshRate() const = 0;
  // Paints every changed part of the window now (the caller brought the controls up to date
  // through PeerBeforePaint or itself), delivering what the toolkit deferred first.
  virtual void PaintNow() = 0;
  // The outer size (frame and title bar included) the window has for its client size, when
  // the toolkit knows it before the window shows.
  virtual std::optional<std::pair<int, int>> OuterSize() const { return std::nullopt; }
  // A failure thrown by a handler that the toolkit called and that could not be carried
  // through the toolkit's own code: kept here, and the event loop ends. Null when none.
  virtual std::exception_ptr TakeFailure() { return nullptr; }
};

// The process's side of the toolkit: its event loop and its message boxes.
class TApplicationPeer {
 public:
  virtual ~TApplicationPeer() = default;
  virtual void SetTitle(const std::string& AValue) = 0;
  // Image bytes (PNG) for every window's icon; a backend with an icon of its own ignores them.
  virtual void SetIcon(std::string_view AImage) = 0;
  // The window that owns the message boxes (and, where the toolkit has one, the taskbar
  // button); null when the main window is gone.
  virtual void SetMainWindow(TFormPeer* /*AWindow*/) {}
  // Whether the main window has a taskbar button of its own (showing its caption) rather than
  // the application (showing its title). Set before the main window is created; toolkits
  // without such a choice ignore it.
  virtual void SetMainFormOnTaskBar(bool /*AValue*/) {}
  // A modal box with an OK button; the error box shows the error icon.
  virtual void ShowMessageBox(const std::string& ACaption, const std::string& AText,
                              TMsgDlgType AType) = 0;
  // Runs the event loop until the shown main window closes; returns the exit code.
  virtual int Run() = 0;
  virtual void ProcessMessages() = 0;
};

class TPeerFactory {
 public:
  virtual ~TPeerFactory() = default;
  virtual std::unique_ptr<TApplicationPeer> CreateApplication(const char* AProgram) = 0;
  virtual std::unique_ptr<TFormPeer> CreateForm(TPeerEvents& AEvents) = 0;
  virtual std::unique_ptr<TLabelPeer> CreateLabel(TPeerEvents& AEvents) = 0;
  virtual std::unique_ptr<TButtonPeer> CreateButton(TPeerEvents& AEvents) = 0;
  virtual std::unique_ptr<TMemoPeer> CreateMemo(TPeerEvents& AEvents) = 0;
  virtual std::unique_ptr<TProgressBarPeer> CreateProgressBar(TPeerEvents& AEvents) = 0;
};

// The linked toolkit backend's factory.
TPeerFactory& ToolkitPeerFactory();
// The factory controls make their peers with: the application's backend while an application
// exists, the toolkit's otherwise.
TPeerFactory& PeerFactory();

}  // namespace bunkmere
