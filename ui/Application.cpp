#include "ui/Application.h"

#include "core/Exceptions.h"
#include "ui/Form.h"
#include "ui/Graphics.h"

namespace bunkmere {
namespace {

TApplication* GApplication = nullptr;

class TPeerMessageBoxes final : public TMessageBoxes {
 public:
  explicit TPeerMessageBoxes(TApplicationPeer& APeer) : FPeer(APeer) {}
  void Show(const std::string& ACaption, const std::string& AText, TMsgDlgType AType) override {
    FPeer.ShowMessageBox(ACaption, AText, AType);
  }

 private:
  TApplicationPeer& FPeer;
};

std::string MessageOf(const std::exception& AFailure) {
  if (const auto* e = dynamic_cast<const Exception*>(&AFailure)) return e->Message();
  return AFailure.what();
}

}  // namespace

TApplication::TApplication(const char* AProgram, TPeerFactory* APeers)
    : FPeers(APeers != nullptr ? APeers : &ToolkitPeerFactory()) {
  if (GApplication != nullptr) throw Exception("An application already exists");
  FPeer = FPeers->CreateApplication(AProgram ? AProgram : "Bunkmere");
  FPeerBoxes = std::make_unique<TPeerMessageBoxes>(*FPeer);
  FMessageBoxes = FPeerBoxes.get();
  GApplication = this;
}

TApplication::~TApplication() {
  if (GApplication == this) GApplication = nullptr;
}

void TApplication::SetTitle(const std::string& AValue) {
  FTitle = AValue;
  FPeer->SetTitle(AValue);
}

void TApplication::SetIcon(std::string_view AImage) {
  FPeer->SetIcon(AImage);
}

void TApplication::ShowMessage(const std::string& AText) {
  FMessageBoxes->Show(FTitle, AText, TMsgDlgType::mtInformation);
}

void TApplication::ShowException(const std::exception& AFailure) {
  FMessageBoxes->Show(FTitle, ErrorBoxText(MessageOf(AFailure)), TMsgDlgType::mtError);
}

void TApplication::HandleException(const std::exception& AFailure) {
  ShowException(AFailure);
}

void TApplication::SetMainFormOnTaskBar(bool AValue) {
  FMainFormOnTaskBar = AValue;
  FPeer->SetMainFormOnTaskBar(AValue);
}

int TApplication::Run(TForm& AMainForm) {
  FPeer->SetMainWindow(&AMainForm.Peer());
  struct TMainWindowGone {
    TApplicationPeer& Peer;
    ~TMainWindowGone() { Peer.SetMainWindow(nullptr); }
  } gone{*FPeer};
  AMainForm.Show();
  const int code = FPeer->Run();
  // What a handler threw inside the toolkit's code ends the loop and goes on from here, to the
  // caller's last resort.
  if (std::exception_ptr failure = AMainForm.Peer().TakeFailure()) std::rethrow_exception(failure);
  return code;
}

void TApplication::ProcessMessages() {
  FPeer->ProcessMessages();
}

TApplication& Application() {
  if (GApplication == nullptr) throw Exception("No application exists");
  return *GApplication;
}

bool ApplicationExists() noexcept {
  return GApplication != nullptr;
}

TPeerFactory& PeerFactory() {
  return GApplication != nullptr ? GApplication->Peers() : ToolkitPeerFactory();
}

TMessageBoxesOverride::TMessageBoxesOverride(TMessageBoxes& ABoxes)
    : FPrevious(Application().FMessageBoxes) {
  Application().FMessageBoxes = &ABoxes;
}

TMessageBoxesOverride::~TMessageBoxesOverride() {
  if (GApplication != nullptr) GApplication->FMessageBoxes = FPrevious;
}

}  // namespace bunkmere
