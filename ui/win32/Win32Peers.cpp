// The Win32 backend's factory: a native window behind every form (Win32Form.cpp) and a
// standard control behind every control (Win32Control.cpp, Win32Controls.cpp, Win32Memo.cpp).
// The event loop and message boxes are in Win32Application.cpp, the dialog manager's keys in
// DialogKeys.cpp.

// Before windows.h, whose macros would take the names of the controls' own constants.
#include "ui/Control.h"
#include "ui/Form.h"
#include "ui/Peers.h"

#include "ui/win32/Win32Control.h"
#include "ui/win32/Win32Form.h"
#include "ui/win32/Win32Peers.h"

#include <memory>

namespace bunkmere {
namespace {

using namespace win32;

class TWin32PeerFactory final : public TPeerFactory {
 public:
  std::unique_ptr<TApplicationPeer> CreateApplication(const char* /*AProgram*/) override {
    return MakeApplication();
  }
  std::unique_ptr<TFormPeer> CreateForm(TPeerEvents& AEvents) override {
    return std::make_unique<TWin32FormPeer>(AEvents);
  }
  std::unique_ptr<TLabelPeer> CreateLabel(TPeerEvents& AEvents) override {
    return MakeLabelPeer(AEvents);
  }
  std::unique_ptr<TButtonPeer> CreateButton(TPeerEvents& AEvents) override {
    return MakeButtonPeer(AEvents);
  }
  std::unique_ptr<TMemoPeer> CreateMemo(TPeerEvents& AEvents) override {
    return MakeMemoPeer(AEvents);
  }
  std::unique_ptr<TProgressBarPeer> CreateProgressBar(TPeerEvents& AEvents) override {
    return MakeProgressBarPeer(AEvents);
  }
};

}  // namespace

HWND win32::FormWindow(TFormPeer& AForm) {
  return static_cast<TWin32FormPeer&>(AForm).Handle();
}

TPeerFactory& ToolkitPeerFactory() {
  static TWin32PeerFactory factory;
  return factory;
}

HWND Win32Handle(const TControl& AControl) {
  return ControlOf(AControl.Peer()).Handle();
}

HWND Win32Window(const TForm& AForm) {
  return static_cast<TWin32FormPeer&>(AForm.Peer()).Handle();
}

}  // namespace bunkmere
