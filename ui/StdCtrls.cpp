#include "ui/StdCtrls.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>

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

TMemo::TMemo(TComponent* AOwner) : TControl(AOwner, std::make_unique<QPlainTextEdit>(), true) {
  Edit().setTabChangesFocus(true);
  Edit().setUndoRedoEnabled(false);
  if (QStyle* style = ClassicStyle()) {
    Edit().verticalScrollBar()->setStyle(style);
    Edit().horizontalScrollBar()->setStyle(style);
  }
  SetScrollBars(FScrollBars);
  SetWordWrap(FWordWrap);
}

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
  // A line added to an empty box fills its first line rather than following an empty one.
  Edit().appendPlainText(ToQString(ALine));
}

void TMemo::Clear() {
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
