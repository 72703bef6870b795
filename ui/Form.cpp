#include "ui/Form.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <algorithm>
#include <cmath>

#include "ui/FormWindow.h"
#include "ui/QtBridge.h"

namespace bunkmere {

TFormWindow::TFormWindow(TForm& AForm) : QWidget(nullptr), FForm(AForm) {}

bool TFormWindow::event(QEvent* AEvent) {
  if (AEvent->type() == QEvent::UpdateRequest) FForm.BringControlsUpToDate();
  return QWidget::event(AEvent);
}

void TFormWindow::resizeEvent(QResizeEvent* AEvent) {
  QWidget::resizeEvent(AEvent);
  FForm.ClientResized(AEvent->size().width(), AEvent->size().height());
}

void TFormWindow::changeEvent(QEvent* AEvent) {
  QWidget::changeEvent(AEvent);
  if (AEvent->type() == QEvent::WindowStateChange) {
    const auto s = windowState();
    FForm.SetWindowState(s.testFlag(Qt::WindowMaximized)   ? TWindowState::wsMaximized
                         : s.testFlag(Qt::WindowMinimized) ? TWindowState::wsMinimized
                                                           : TWindowState::wsNormal);
  }
}

TForm::TForm(TComponent* AOwner)
    : TComponent(AOwner), FWindow(std::make_unique<TFormWindow>(*this)) {
  FWindow->setAutoFillBackground(true);
  SetColor(FColor);
  FWindow->setFont(ToQFont(FFont.Data()));
  FFont.OnChange = [this] {
    FWindow->setFont(ToQFont(FFont.Data()));
    for (TControl* c : FControls) c->ParentFontChanged(FFont.Data());
  };
  ApplyWindowFlags();
}

TForm::~TForm() {
  Destroying();
  // Controls are children of the window: free them (or, for controls someone else owns,
  // detach them) while the window still exists, so Qt never frees a widget a control holds.
  DestroyComponents();
  while (!FControls.empty()) FControls.back()->SetParent(nullptr);
}

QWidget* TForm::Window() const noexcept {
  return FWindow.get();
}

void TForm::SetCaption(const std::string& AValue) {
  FCaption = AValue;
  FWindow->setWindowTitle(ToQString(AValue));
}

void TForm::SetLeft(int AValue) {
  FLeft = AValue;
  FWindow->move(FLeft, FTop);
}

void TForm::SetTop(int AValue) {
  FTop = AValue;
  FWindow->move(FLeft, FTop);
}

void TForm::SetClientWidth(int AValue) {
  FClientWidth = std::max(AValue, 0);
  ApplySizeConstraints();
}

void TForm::SetClientHeight(int AValue) {
  FClientHeight = std::max(AValue, 0);
  ApplySizeConstraints();
}

void TForm::SetColor(TColor AValue) {
  FColor = AValue;
  QPalette pal = FWindow->palette();
  pal.setColor(QPalette::Window, ToQColor(AValue));
  FWindow->setPalette(pal);
}

void TForm::SetFont(const TFontData& AValue) {
  FFont.Assign(AValue);
}

void TForm::SetBorderStyle(TFormBorderStyle AValue) {
  FBorderStyle = AValue;
  ApplyWindowFlags();
  ApplySizeConstraints();
}

void TForm::SetBorderIcons(std::uint8_t AValue) {
  FBorderIcons = AValue & 0x07;
  ApplyWindowFlags();
}

void TForm::ApplyWindowFlags() {
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (FBorderStyle == TFormBorderStyle::bsNone) flags = Qt::Window | Qt::FramelessWindowHint;
  auto has = [this](TBorderIcon i) {
    return (FBorderIcons & (1u << static_cast<unsigned>(i))) != 0;
  };
  if (has(TBorderIcon::biSystemMenu)) {
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    // Without a system menu there are no minimise and maximise boxes either.
    if (FBorderStyle != TFormBorderStyle::bsDialog) {
      if (has(TBorderIcon::biMinimize)) flags |= Qt::WindowMinimizeButtonHint;
      if (has(TBorderIcon::biMaximize)) flags |= Qt::WindowMaximizeButtonHint;
    }
  }
  const bool visible = FWindow->isVisible();
  FWindow->setWindowFlags(flags);
  if (visible) FWindow->show();
}

void TForm::ApplySizeConstraints() {
  const bool fixed = FBorderStyle != TFormBorderStyle::bsSizeable;
  if (fixed && FWindowState == TWindowState::wsNormal) {
    // A fixed border: the user cannot drag the size, but maximising still works, so the
    // limits are lifted while maximised.
    FWindow->setFixedSize(FClientWidth, FClientHeight);
  } else {
    FWindow->setMinimumSize(0, 0);
    FWindow->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (FWindowState == TWindowState::wsNormal) FWindow->resize(FClientWidth, FClientHeight);
  }
}

void TForm::ClientResized(int AWidth, int AHeight) {
  if (FWindowState == TWindowState::wsNormal && !FWindow->isMaximized()) {
    // A resize that is not a maximise defines the client size (sizeable borders only; a fixed
    // border never gets here with another size).
    FClientWidth = AWidth;
    FClientHeight = AHeight;
  }
  for (TControl* c : FControls) c->ParentResized(AWidth, AHeight);
}

void TForm::SetWindowState(TWindowState AValue) {
  if (AValue == FWindowState) return;
  FWindowState = AValue;
  ApplySizeConstraints();
  if (!FShown) return;
  switch (AValue) {
    case TWindowState::wsMaximized:
      if (!FWindow->isMaximized()) FWindow->showMaximized();
      break;
    case TWindowState::wsMinimized:
      if (!FWindow->isMinimized()) FWindow->showMinimized();
      break;
    case TWindowState::wsNormal:
      if (FWindow->isMaximized() || FWindow->isMinimized()) FWindow->showNormal();
      FWindow->resize(FClientWidth, FClientHeight);
      break;
  }
}

int TForm::ScreenPixelsPerInch() const {
  if (FScreenPixelsPerInch > 0) return FScreenPixelsPerInch;
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return FPixelsPerInch;
  return static_cast<int>(std::lround(screen->logicalDotsPerInch()));
}

void TForm::ScaleBy(int AMultiplier, int ADivisor) {
  if (AMultiplier == ADivisor || AMultiplier <= 0 || ADivisor <= 0) return;
  FClientWidth = ScaleLength(FClientWidth, AMultiplier, ADivisor);
  FClientHeight = ScaleLength(FClientHeight, AMultiplier, ADivisor);
  ApplySizeConstraints();
  // The form's font change reaches the controls that follow it; the others scale their own.
  FFont.SetHeight(ScaleLength(FFont.Height(), AMultiplier, ADivisor));
  for (TControl* c : FControls) c->ChangeScale(AMultiplier, ADivisor);
}

void TForm::Loaded() {
  TComponent::Loaded();
  // Controls stored directly in the form's block show on the form.
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* c = dynamic_cast<TControl*>(Components(i)); c != nullptr && c->Parent() == nullptr)
      c->SetParent(this);
  const int screen = ScreenPixelsPerInch();
  if (FPixelsPerInch > 0 && screen != FPixelsPerInch) {
    ScaleBy(screen, FPixelsPerInch);
    FPixelsPerInch = screen;
  }
  ApplyTabOrder();
}

std::vector<TControl*> TForm::TabList() const {
  std::vector<TControl*> list;
  for (TControl* c : FControls)
    if (c->TabStop() && c->TabOrder() >= 0) list.push_back(c);
  std::stable_sort(list.begin(), list.end(),
                   [](TControl* a, TControl* b) { return a->TabOrder() < b->TabOrder(); });
  return list;
}

TControl* TForm::ActiveControl() const {
  for (TControl* c : TabList())
    if (c->Visible()) return c;
  return nullptr;
}

void TForm::ApplyTabOrder() {
  const auto list = TabList();
  for (std::size_t i = 1; i < list.size(); ++i)
    QWidget::setTabOrder(list[i - 1]->Widget(), list[i]->Widget());
  // Focus given before the window is shown is remembered and takes effect when it opens.
  if (TControl* first = ActiveControl()) first->Widget()->setFocus(Qt::OtherFocusReason);
}

void TForm::Show() {
  ApplySizeConstraints();
  if (FPosition == TPosition::poScreenCenter) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      FLeft = area.x() + (area.width() - FClientWidth) / 2;
      FTop = area.y() + (area.height() - FClientHeight) / 2;
    }
  }
  FWindow->move(FLeft, FTop);
  FShown = true;
  if (FWindowState == TWindowState::wsMaximized)
    FWindow->showMaximized();
  else
    FWindow->show();
  if (TControl* first = ActiveControl()) first->Widget()->setFocus(Qt::OtherFocusReason);
}

void TForm::Close() {
  FWindow->close();
  FShown = false;
}

bool TForm::Showing() const {
  return FWindow->isVisible();
}

std::chrono::nanoseconds TForm::FrameInterval() const {
  if (FFrameInterval) return *FFrameInterval;
  const QScreen* screen = FWindow->screen();
  const double hz = screen != nullptr ? screen->refreshRate() : 0.0;
  // A screen that reports nothing sensible is taken to show 60 frames a second.
  const double rate = hz >= 20.0 && hz <= 1000.0 ? hz : 60.0;
  return std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 / rate));
}

void TForm::Repaint() {
  if (!FWindow->isVisible()) return;
  const auto now = std::chrono::steady_clock::now();
  if (FLastRepaint && now - *FLastRepaint < FNextRepaintAfter) return;
  FLastRepaint = now;
  // Qt defers work of its own (layout requests, scroll-bar adjustments queued by text boxes,
  // lines a text box holds back) to posted events. Without an event loop running, as in a long
  // handler that repaints as it goes, they would pile up and every later post would scan the
  // whole pile: deliver them first, then the paint they lead to. Input is not among them, so
  // no click is handled here.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::sendPostedEvents(FWindow.get(), QEvent::UpdateRequest);
  // Painting takes at most one part in kPaintShare of a long handler's time.
  constexpr int kPaintShare = 20;
  FNextRepaintAfter =
      FFrameInterval ? *FFrameInterval
                     : std::max<std::chrono::nanoseconds>(
                           FrameInterval(), (std::chrono::steady_clock::now() - now) * kPaintShare);
}

void TForm::BringControlsUpToDate() {
  for (TControl* c : FControls) c->BringUpToDate();
}

TNotifyEvent TForm::MethodAddress(const std::string& AName) const {
  auto it = FMethods.find(AName);
  return it == FMethods.end() ? TNotifyEvent{} : it->second;
}

void TForm::PublishMethod(const std::string& AName, TNotifyEvent AHandler) {
  FMethods[AName] = std::move(AHandler);
}

void TForm::InsertControl(TControl* AControl) {
  if (std::find(FControls.begin(), FControls.end(), AControl) == FControls.end())
    FControls.push_back(AControl);
}

void TForm::RemoveControl(TControl* AControl) {
  FControls.erase(std::remove(FControls.begin(), FControls.end(), AControl), FControls.end());
}

}  // namespace bunkmere
