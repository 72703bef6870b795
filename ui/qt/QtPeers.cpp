// The Qt backend: a Qt widget behind every control, the application's QApplication and its
// message boxes.

#include "ui/qt/QtPeers.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QWidget>
#include <cmath>

#include "ui/Control.h"
#include "ui/Form.h"
#include "ui/Peers.h"
#include "ui/qt/QtBridge.h"

namespace bunkmere {
namespace {

class TQtFormPeer;

// Every Qt control peer's widget, whatever its kind.
class TQtWidgetOwner {
 public:
  virtual QWidget& AnyWidget() const = 0;

 protected:
  ~TQtWidgetOwner() = default;
};

QWidget& WidgetOf(const TControlPeer& APeer) {
  return dynamic_cast<const TQtWidgetOwner&>(APeer).AnyWidget();
}

// What every Qt control peer does alike, around its widget of type W.
template <class Base, class W>
class TQtControlPeer : public Base, public TQtWidgetOwner {
 public:
  explicit TQtControlPeer(TPeerEvents& AEvents)
      : FEvents(AEvents), FWidget(std::make_unique<W>()) {}

  void SetBounds(const TRect& r) override {
    FWidget->setGeometry(r.Left, r.Top, r.Width, r.Height);
  }
  void SetVisible(bool AValue) override { FWidget->setVisible(AValue); }
  void SetFont(const TFontData& AFont) override {
    FWidget->setFont(ToQFont(AFont));
    ApplyFontColor(*FWidget, AFont);
  }
  void SetTabStop(bool AValue) override {
    FWidget->setFocusPolicy(AValue ? Qt::StrongFocus : Qt::NoFocus);
  }
  void SetParent(TFormPeer* AParent) override;
  void SetFocus() override { FWidget->setFocus(Qt::OtherFocusReason); }
  void Invalidate() override { FWidget->update(); }
  void PaintNow() override { FWidget->repaint(); }
  void Post(std::function<void()> ACall) override {
    // The widget is the call's context: a peer freed first takes the call with it.
    QMetaObject::invokeMethod(FWidget.get(), std::move(ACall), Qt::QueuedConnection);
  }

  W& Widget() const { return *FWidget; }
  QWidget& AnyWidget() const override { return *FWidget; }

 protected:
  TPeerEvents& FEvents;

 private:
  // A parent window never frees it first: the form takes its controls off the window before
  // the window goes.
  std::unique_ptr<W> FWidget;
};

// The Qt window behind a form: tells its form when the client area changes size or the
// window is maximised or restored, and brings the form's controls up to date before it is
// painted.
class TFormWindow final : public QWidget {
 public:
  explicit TFormWindow(TPeerEvents& AEvents) : QWidget(nullptr), FEvents(AEvents) {}

 protected:
  bool event(QEvent* AEvent) override {
    if (AEvent->type() == QEvent::UpdateRequest) FEvents.PeerBeforePaint();
    return QWidget::event(AEvent);
  }
  void resizeEvent(QResizeEvent* AEvent) override {
    QWidget::resizeEvent(AEvent);
    FEvents.PeerClientResized(AEvent->size().width(), AEvent->size().height());
  }
  void changeEvent(QEvent* AEvent) override {
    QWidget::changeEvent(AEvent);
    if (AEvent->type() == QEvent::WindowStateChange) {
      const auto s = windowState();
      FEvents.PeerWindowStateChanged(s.testFlag(Qt::WindowMaximized)   ? TWindowState::wsMaximized
                                     : s.testFlag(Qt::WindowMinimized) ? TWindowState::wsMinimized
                                                                       : TWindowState::wsNormal);
    }
  }

 private:
  TPeerEvents& FEvents;
};

class TQtFormPeer final : public TFormPeer {
 public:
  explicit TQtFormPeer(TPeerEvents& AEvents) : FWindow(std::make_unique<TFormWindow>(AEvents)) {
    FWindow->setAutoFillBackground(true);
  }
  QWidget& Window() const { return *FWindow; }

  void SetCaption(const std::string& AValue) override {
    FWindow->setWindowTitle(ToQString(AValue));
  }
  void Move(int ALeft, int ATop) override { FWindow->move(ALeft, ATop); }
  void SetColor(TColor AValue) override {
    QPalette pal = FWindow->palette();
    pal.setColor(QPalette::Window, ToQColor(AValue));
    FWindow->setPalette(pal);
  }
  void SetFont(const TFontData& AFont) override { FWindow->setFont(ToQFont(AFont)); }
  void SetBorder(TFormBorderStyle AStyle, std::uint8_t AIcons) override {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (AStyle == TFormBorderStyle::bsNone) flags = Qt::Window | Qt::FramelessWindowHint;
    auto has = [AIcons](TBorderIcon i) { return (AIcons & (1u << static_cast<unsigned>(i))) != 0; };
    if (has(TBorderIcon::biSystemMenu)) {
      flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
      // Without a system menu there are no minimise and maximise boxes either.
      if (AStyle != TFormBorderStyle::bsDialog) {
        if (has(TBorderIcon::biMinimize)) flags |= Qt::WindowMinimizeButtonHint;
        if (has(TBorderIcon::biMaximize)) flags |= Qt::WindowMaximizeButtonHint;
      }
    }
    const bool visible = FWindow->isVisible();
    FWindow->setWindowFlags(flags);
    if (visible) FWindow->show();
  }
  void SetClientSize(int AWidth, int AHeight, bool AFixed, bool AResize) override {
    FWidth = AWidth;
    FHeight = AHeight;
    if (AFixed) {
      FWindow->setFixedSize(AWidth, AHeight);
      return;
    }
    FWindow->setMinimumSize(0, 0);
    FWindow->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (AResize) FWindow->resize(AWidth, AHeight);
  }
  void Show(TWindowState AState) override {
    if (AState == TWindowState::wsMaximized)
      FWindow->showMaximized();
    else
      FWindow->show();
  }
  void SetWindowState(TWindowState AState) override {
    switch (AState) {
      case TWindowState::wsMaximized:
        if (!FWindow->isMaximized()) FWindow->showMaximized();
        break;
      case TWindowState::wsMinimized:
        if (!FWindow->isMinimized()) FWindow->showMinimized();
        break;
      case TWindowState::wsNormal:
        if (FWindow->isMaximized() || FWindow->isMinimized()) FWindow->showNormal();
        FWindow->resize(FWidth, FHeight);
        break;
    }
  }
  bool IsMaximized() const override { return FWindow->isMaximized(); }
  void Close() override { FWindow->close(); }
  bool IsVisible() const override { return FWindow->isVisible(); }
  void SetTabOrder(const std::vector<TControlPeer*>& AControls) override;
  std::optional<TRect> ScreenWorkArea() const override {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return std::nullopt;
    const QRect area = screen->availableGeometry();
    return TRect{area.x(), area.y(), area.width(), area.height()};
  }
  int ScreenPixelsPerInch() const override {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen == nullptr ? 0 : static_cast<int>(std::lround(screen->logicalDotsPerInch()));
  }
  double ScreenRefreshRate() const override {
    const QScreen* screen = FWindow->screen();
    return screen != nullptr ? screen->refreshRate() : 0.0;
  }
  void PaintNow() override {
    // Qt defers work of its own (layout requests, scroll-bar adjustments queued by text boxes,
    // lines a text box holds back) to posted events. Without an event loop running, as in a
    // long handler that repaints as it goes, they would pile up and every later post would
    // scan the whole pile: deliver them first, then the paint they lead to. Input is not among
    // them, so no click is handled here.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(FWindow.get(), QEvent::UpdateRequest);
  }

 private:
  std::unique_ptr<TFormWindow> FWindow;
  int FWidth = 0, FHeight = 0;
};

template <class Base, class W>
void TQtControlPeer<Base, W>::SetParent(TFormPeer* AParent) {
  FWidget->setParent(AParent ? &static_cast<TQtFormPeer*>(AParent)->Window() : nullptr);
}

void TQtFormPeer::SetTabOrder(const std::vector<TControlPeer*>& AControls) {
  for (std::size_t i = 1; i < AControls.size(); ++i)
    QWidget::setTabOrder(&WidgetOf(*AControls[i - 1]), &WidgetOf(*AControls[i]));
}

class TQtLabelPeer final : public TQtControlPeer<TLabelPeer, QLabel> {
 public:
  explicit TQtLabelPeer(TPeerEvents& AEvents) : TQtControlPeer(AEvents) {
    QLabel& l = Widget();
    l.setTextFormat(Qt::PlainText);
    l.setWordWrap(false);
    l.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l.setContentsMargins(0, 0, 0, 0);
    l.setAttribute(Qt::WA_TransparentForMouseEvents);
    // Labels fill their own background in the form's colour, as opaque labels do on the
    // native platform; it also lets "repaint the label now" paint just the label.
    l.setAutoFillBackground(true);
  }
  void SetText(const std::string& AText) override { Widget().setText(ToQString(AText)); }
  std::pair<int, int> TextExtent(const std::string& AText) const override {
    const QFontMetrics fm(Widget().font());
    return {fm.horizontalAdvance(ToQString(AText)), fm.height()};
  }
};

class TQtButtonPeer final : public TQtControlPeer<TButtonPeer, QPushButton> {
 public:
  explicit TQtButtonPeer(TPeerEvents& AEvents) : TQtControlPeer(AEvents) {
    QObject::connect(&Widget(), &QPushButton::clicked, [this] { FEvents.PeerClicked(); });
  }
  // Qt's buttons follow the same ampersand rule as the captions of the description.
  void SetText(const std::string& AText) override { Widget().setText(ToQString(AText)); }
};

class TQtMemoPeer final : public TQtControlPeer<TMemoPeer, QPlainTextEdit> {
 public:
  explicit TQtMemoPeer(TPeerEvents& AEvents)
      : TQtControlPeer(AEvents), FFlusher(std::make_unique<TPendingFlusher>(*this)) {
    QPlainTextEdit& edit = Widget();
    edit.setTabChangesFocus(true);
    edit.setUndoRedoEnabled(false);
    if (QStyle* style = ClassicStyle()) {
      edit.verticalScrollBar()->setStyle(style);
      edit.horizontalScrollBar()->setStyle(style);
    }
    edit.installEventFilter(FFlusher.get());
    edit.viewport()->installEventFilter(FFlusher.get());
  }
  // The flusher goes first, so the widget's own teardown events never reach it.
  ~TQtMemoPeer() override { FFlusher.reset(); }

  void SetScrollBars(bool AVertical, bool AHorizontal) override {
    Widget().setVerticalScrollBarPolicy(AVertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    Widget().setHorizontalScrollBarPolicy(AHorizontal ? Qt::ScrollBarAlwaysOn
                                                      : Qt::ScrollBarAlwaysOff);
  }
  void SetWordWrap(bool AValue) override {
    Widget().setLineWrapMode(AValue ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    Widget().setWordWrapMode(AValue ? QTextOption::WrapAtWordBoundaryOrAnywhere
                                    : QTextOption::NoWrap);
  }
  void SetReadOnly(bool AValue) override { Widget().setReadOnly(AValue); }
  bool IsEmpty() const override { return !FHasPending && Widget().document()->isEmpty(); }
  void AddLine(const std::string& ALine) override {
    // Not a line feed: a line ending in a carriage return would merge the two breaks into one.
    if (FHasPending) FPending += QChar::ParagraphSeparator;
    FHasPending = true;
    FPending += ToQString(ALine);
  }
  void BringUpToDate() override { FlushPending(); }
  std::vector<std::string> Lines() const override {
    FlushPending();
    std::vector<std::string> lines;
    const QTextDocument* doc = Widget().document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
      lines.push_back(FromQString(b.text()));
    return lines;
  }
  void Clear() override {
    FPending.clear();
    FHasPending = false;
    Widget().clear();
  }

 private:
  // Puts the held-back lines into the box before anything else reaches it (a key, a click, a
  // resize), so what a person edits is always the whole log.
  class TPendingFlusher : public QObject {
   public:
    explicit TPendingFlusher(const TQtMemoPeer& AMemo) : FMemo(AMemo) {}

   protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override {
      // Changing the text while it is being painted would scroll the box mid-paint; the
      // window brings the box up to date before it paints, and a paint of the box alone shows
      // what is there until the posted call follows with a paint of its own.
      if (AEvent->type() != QEvent::Paint) FMemo.FlushPending();
      return QObject::eventFilter(AWatched, AEvent);
    }

   private:
    const TQtMemoPeer& FMemo;
  };

  // Puts the lines added since the last time into the box, in one edit.
  void FlushPending() const {
    if (!FHasPending) return;
    QString text;
    text.swap(FPending);
    FHasPending = false;
    QPlainTextEdit& edit = Widget();
    QScrollBar& bar = *edit.verticalScrollBar();
    // The box follows the end of the log only while its end is in view, as with a single line.
    const bool followEnd = edit.isVisible() && bar.value() >= bar.maximum();
    QTextDocument& doc = *edit.document();
    QTextCursor cursor(&doc);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    if (!doc.isEmpty()) cursor.insertBlock();
    cursor.insertText(text);
    cursor.endEditBlock();
    if (followEnd) bar.setValue(bar.maximum());
  }

  // Lines added but not yet in the box. Appending line by line makes Qt lay out the new line
  // and scroll the box's pixels for every one, which dominated a pass that logs tens of
  // thousands of lines; they go in together before the box is read, repainted or touched.
  mutable QString FPending;
  mutable bool FHasPending = false;
  std::unique_ptr<TPendingFlusher> FFlusher;
};

class TQtProgressBarPeer final : public TQtControlPeer<TProgressBarPeer, QProgressBar> {
 public:
  explicit TQtProgressBarPeer(TPeerEvents& AEvents) : TQtControlPeer(AEvents) {
    Widget().setTextVisible(false);
    if (QStyle* style = ClassicStyle()) Widget().setStyle(style);
  }
  void SetState(int AMin, int AMax, int APosition) override {
    QProgressBar& bar = Widget();
    if (bar.minimum() == AMin && bar.maximum() == AMax && bar.value() == APosition) return;
    // A Qt progress bar paints itself, and with it every changed part of its window, the
    // moment its value moves far enough to show: it is painted with the rest of the window.
    bar.setUpdatesEnabled(false);
    bar.setRange(AMin, AMax);
    bar.setValue(APosition);
    bar.setUpdatesEnabled(true);
  }
};

class TQtApplicationPeer final : public TApplicationPeer {
 public:
  explicit TQtApplicationPeer(const char* AProgram) : FProgram(AProgram) {
    FArgv = {FProgram.data(), nullptr};
    FQt = std::make_unique<QApplication>(FArgc, FArgv.data());
  }
  void SetTitle(const std::string& AValue) override {
    // The name window systems group the program's windows by (the taskbar entry). Not the
    // display name: Qt would append that to every window's caption.
    QApplication::setApplicationName(ToQString(AValue));
  }
  void SetIcon(std::string_view AImage) override {
    QPixmap pixmap;
    if (pixmap.loadFromData(reinterpret_cast<const uchar*>(AImage.data()),
                            static_cast<uint>(AImage.size())))
      QApplication::setWindowIcon(QIcon(pixmap));
  }
  void ShowMessageBox(const std::string& ACaption, const std::string& AText,
                      TMsgDlgType AType) override {
    QMessageBox box(AType == TMsgDlgType::mtError ? QMessageBox::Critical : QMessageBox::NoIcon,
                    ToQString(ACaption), ToQString(AText), QMessageBox::Ok);
    // Database text reaches these boxes: show it as it is, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
  }
  int Run() override { return QApplication::exec(); }
  void ProcessMessages() override { QApplication::processEvents(); }

 private:
  int FArgc = 1;
  std::string FProgram;
  std::vector<char*> FArgv;
  std::unique_ptr<QApplication> FQt;
};

class TQtPeerFactory final : public TPeerFactory {
 public:
  std::unique_ptr<TApplicationPeer> CreateApplication(const char* AProgram) override {
    return std::make_unique<TQtApplicationPeer>(AProgram);
  }
  std::unique_ptr<TFormPeer> CreateForm(TPeerEvents& AEvents) override {
    return std::make_unique<TQtFormPeer>(AEvents);
  }
  std::unique_ptr<TLabelPeer> CreateLabel(TPeerEvents& AEvents) override {
    return std::make_unique<TQtLabelPeer>(AEvents);
  }
  std::unique_ptr<TButtonPeer> CreateButton(TPeerEvents& AEvents) override {
    return std::make_unique<TQtButtonPeer>(AEvents);
  }
  std::unique_ptr<TMemoPeer> CreateMemo(TPeerEvents& AEvents) override {
    return std::make_unique<TQtMemoPeer>(AEvents);
  }
  std::unique_ptr<TProgressBarPeer> CreateProgressBar(TPeerEvents& AEvents) override {
    return std::make_unique<TQtProgressBarPeer>(AEvents);
  }
};

}  // namespace

TPeerFactory& ToolkitPeerFactory() {
  static TQtPeerFactory factory;
  return factory;
}

QWidget* QtWidget(const TControl& AControl) {
  return &WidgetOf(AControl.Peer());
}

QWidget* QtWindow(const TForm& AForm) {
  return &static_cast<TQtFormPeer&>(AForm.Peer()).Window();
}

}  // namespace bunkmere
