#pragma once
// The Qt window behind a TForm: tells its form when the client area changes size or the
// window is maximised or restored, and brings the form's controls up to date before it is
// painted. Internal to ui/.

#include <QWidget>

namespace bunkmere {

class TForm;

class TFormWindow final : public QWidget {
 public:
  explicit TFormWindow(TForm& AForm);

 protected:
  bool event(QEvent* AEvent) override;
  void resizeEvent(QResizeEvent* AEvent) override;
  void changeEvent(QEvent* AEvent) override;

 private:
  TForm& FForm;
};

}  // namespace bunkmere
