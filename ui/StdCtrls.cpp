#include "ui/StdCtrls.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "core/Exceptions.h"
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/QtBridge.h"

namespace bunkmere {

// ---- TLabel

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner, std::make_unique<QLabel>(), false) {
  Label().setTextFormat(Qt::PlainText);
  Label().setWordWrap(false);
  Label().setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label().setContentsMargins(0, 0, 0, 0);
  Label().setAttribute(Qt::WA_TransparentForMouseEvents);
  // Labels fill their own background in the form's colour, as opaque labels do on the native
  // platform; it also lets "repaint the label now" paint just the label.
  Label().setAutoFillBackground(true);
}

QLabel& TLabel::Label() const {
  return static_cast<QLabel&>(*Widget());
}

std::string TLabel::DisplayText() const {
  return StripAccelChars(Caption());
}

void TLabel::CaptionChanged() {
  Label().setText(ToQString(DisplayText()));
}

void TLabel::SetAutoSize(bool AValue) {
  FAutoSize = AValue;
  AdjustSize();
}

void TLabel::AdjustSize() {
  if (!FAutoSize || IsLoading()) return;
  const QFontMetrics fm(Label().font());
  const QString text = ToQString(DisplayText());
  // An empty label keeps the height of one line, as its text would have.
  SetBounds(Left(), Top(), fm.horizontalAdvance(text), fm.height());
}

// ---- TButton

TButton::TButton(TComponent* AOwner) : TControl(AOwner, std::make_unique<QPushButton>(), true) {
  QObject::connect(&Button(), &QPushButton::clicked, [this] { Click(); });
}

QPushButton& TButton::Button() const {
  return static_cast<QPushButton&>(*Widget());
}

// Qt's buttons follow the same ampersand rule as the captions of the description.
void TButton::CaptionChanged() {
  Button().setText(ToQString(Caption()));
}

void TButton::SetOnClickName(const std::string& AName) {
  FOnClickName = AName;
  if (!IsLoading()) Loaded();
}

void TButton::Loaded() {
  TControl::Loaded();
  if (FOnClickName.empty()) return;
  for (TComponent* c = Owner(); c != nullptr; c = c->Owner()) {
    if (auto* form = dynamic_cast<TForm*>(c)) {
      if (TNotifyEvent h = form->MethodAddress(FOnClickName)) {
        FOnClick = std::move(h);
        return;
      }
    }
  }
  throw Exception("Method '" + FOnClickName + "' not found for " + Name() + ".OnClick");
}

void TButton::Click() {
  if (!FOnClick) return;
  // Qt is not built to carry exceptions through its event loop: catch here what would escape
  // the handler and give it to the application's error box, as a click's failure is handled.
  try {
    FOnClick(this);
  } catch (const std::exception& e) {
    if (!ApplicationExists()) throw;
    Application().HandleException(e);
  }
}

// ---- TMemo

// Puts the held-back lines into the box before anything else reaches it (a key, a click, a
// resize), so what a person edits is always the whole log.
class TMemo::TPendingFlusher : public QObject {
 public:
  explicit TPendingFlusher(const TMemo& AMemo) : FMemo(AMemo) {}

 protected:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override {
    // Changing the text while it is being painted would scroll the box mid-paint; the window
    // brings the box up to date before it paints, and a paint of the box alone shows what
    // is there until the posted call follows with a paint of its own.
    if (AEvent->type() != QEvent::Paint) FMemo.FlushPending();
    return QObject::eventFilter(AWatched, AEvent);
  }

 private:
  const TMemo& FMemo;
};

TMemo::TMemo(TComponent* AOwner)
    : TControl(AOwner, std::make_unique<QPlainTextEdit>(), true),
      FFlusher(std::make_unique<TPendingFlusher>(*this)) {
  Edit().setTabChangesFocus(true);
  Edit().setUndoRedoEnabled(false);
  if (QStyle* style = ClassicStyle()) {
    Edit().verticalScrollBar()->setStyle(style);
    Edit().horizontalScrollBar()->setStyle(style);
  }
  Edit().installEventFilter(FFlusher.get());
  Edit().viewport()->installEventFilter(FFlusher.get());
  SetScrollBars(FScrollBars);
  SetWordWrap(FWordWrap);
}

// Out of line for the flusher's complete type. The flusher goes first, so the widget's own
// teardown events never reach it.
TMemo::~TMemo() = default;

QPlainTextEdit& TMemo::Edit() const {
  return static_cast<QPlainTextEdit&>(*Widget());
}

void TMemo::SetScrollBars(TScrollStyle AValue) {
  FScrollBars = AValue;
  const bool v = AValue == TScrollStyle::ssVertical || AValue == TScrollStyle::ssBoth;
  const bool h = AValue == TScrollStyle::ssHorizontal || AValue == TScrollStyle::ssBoth;
  Edit().setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  Edit().setHorizontalScrollBarPolicy(h && !FWordWrap ? Qt::ScrollBarAlwaysOn
                                                      : Qt::ScrollBarAlwaysOff);
}

void TMemo::SetWordWrap(bool AValue) {
  FWordWrap = AValue;
  Edit().setLineWrapMode(AValue ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  Edit().setWordWrapMode(AValue ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
  SetScrollBars(FScrollBars);
}

void TMemo::SetReadOnly(bool AValue) {
  FReadOnly = AValue;
  Edit().setReadOnly(AValue);
}

std::vector<std::string> TMemo::Lines() const {
  FlushPending();
  std::vector<std::string> lines;
  const QTextDocument* doc = Edit().document();
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
    lines.push_back(FromQString(b.text()));
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

void TMemo::SetLines(const std::vector<std::string>& ALines) {
  Clear();
  for (const auto& l : ALines) Add(l);
}

void TMemo::Add(const std::string& ALine) {
  if (!FHasPending) {
    // A line added to an empty box fills its first line rather than following an empty one,
    // so an empty line added to an empty box leaves it as it was.
    if (ALine.empty() && Edit().document()->isEmpty()) return;
    FHasPending = true;
    PostBringUpToDate();
  } else {
    // Not a line feed: a line ending in a carriage return would merge the two breaks into one.
    FPending += QChar::ParagraphSeparator;
  }
  FPending += ToQString(ALine);
}

void TMemo::FlushPending() const {
  if (!FHasPending) return;
  QString text;
  text.swap(FPending);
  FHasPending = false;
  QPlainTextEdit& edit = Edit();
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

void TMemo::Clear() {
  FPending.clear();
  FHasPending = false;
  Edit().clear();
}

std::string TMemo::LinesText() const {
  std::string text;
  for (const auto& l : Lines()) {
    text += l;
    text += "\r\n";
  }
  return text;
}

}  // namespace bunkmere
