#include "ui/Application.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>

#include "core/Exceptions.h"
#include "ui/Form.h"
#include "ui/Graphics.h"
#include "ui/QtBridge.h"

namespace bunkmere {
namespace {

TApplication* GApplication = nullptr;

class TQtMessageBoxes final : public TMessageBoxes {
 public:
  void Show(const std::string& ACaption, const std::string& AText, TMsgDlgType AType) override {
    QMessageBox box(AType == TMsgDlgType::mtError ? QMessageBox::Critical : QMessageBox::NoIcon,
                    ToQString(ACaption), ToQString(AText), QMessageBox::Ok);
    // Database text reaches these boxes: show it as it is, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
  }
};

std::string MessageOf(const std::exception& AFailure) {
  if (const auto* e = dynamic_cast<const Exception*>(&AFailure)) return e->Message();
  return AFailure.what();
}

}  // namespace

TApplication::TApplication(const char* AProgram) : FProgram(AProgram ? AProgram : "Bunkmere") {
  if (GApplication != nullptr) throw Exception("An application already exists");
  FArgv = {FProgram.data(), nullptr};
  FQt = std::make_unique<QApplication>(FArgc, FArgv.data());
  FQtBoxes = std::make_unique<TQtMessageBoxes>();
  FMessageBoxes = FQtBoxes.get();
  GApplication = this;
}

TApplication::~TApplication() {
  if (GApplication == this) GApplication = nullptr;
}

void TApplication::SetTitle(const std::string& AValue) {
  FTitle = AValue;
  // The name window systems group the program's windows by (the taskbar entry). Not the
  // display name: Qt would append that to every window's caption.
  QApplication::setApplicationName(ToQString(AValue));
}

void TApplication::SetIcon(std::string_view AImage) {
  QPixmap pixmap;
  if (pixmap.loadFromData(reinterpret_cast<const uchar*>(AImage.data()),
                          static_cast<uint>(AImage.size())))
    QApplication::setWindowIcon(QIcon(pixmap));
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

int TApplication::Run(TForm& AMainForm) {
  AMainForm.Show();
  return QApplication::exec();
}

void TApplication::ProcessMessages() {
  QApplication::processEvents();
}

TApplication& Application() {
  if (GApplication == nullptr) throw Exception("No application exists");
  return *GApplication;
}

bool ApplicationExists() noexcept {
  return GApplication != nullptr;
}

TMessageBoxesOverride::TMessageBoxesOverride(TMessageBoxes& ABoxes)
    : FPrevious(Application().FMessageBoxes) {
  Application().FMessageBoxes = &ABoxes;
}

TMessageBoxesOverride::~TMessageBoxesOverride() {
  if (GApplication != nullptr) GApplication->FMessageBoxes = FPrevious;
}

}  // namespace bunkmere
