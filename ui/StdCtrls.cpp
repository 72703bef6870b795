#include "ui/StdCtrls.h"

#include "core/Exceptions.h"
#include "ui/Application.h"
#include "ui/Form.h"

namespace bunkmere {

// ---- TLabel

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner, PeerFactory().CreateLabel(*this), false) {}

std::string TLabel::DisplayText() const {
  return StripAccelChars(Caption());
}

void TLabel::CaptionChanged() {
  LabelPeer().SetText(DisplayText());
}

void TLabel::SetAutoSize(bool AValue) {
  FAutoSize = AValue;
  AdjustSize();
}

void TLabel::AdjustSize() {
  if (!FAutoSize || IsLoading()) return;
  // An empty label keeps the height of one line, as its text would have.
  const auto [width, height] = LabelPeer().TextExtent(DisplayText());
  SetBounds(Left(), Top(), width, height);
}

// ---- TButton

TButton::TButton(TComponent* AOwner) : TControl(AOwner, PeerFactory().CreateButton(*this), true) {}

// Buttons follow the same ampersand rule as the captions of the description.
void TButton::CaptionChanged() {
  ButtonPeer().SetText(Caption());
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
  // No toolkit carries exceptions through its event loop: catch here what would escape the
  // handler and give it to the application's error box, as a click's failure is handled.
  try {
    FOnClick(this);
  } catch (const std::exception& e) {
    if (!ApplicationExists()) throw;
    Application().HandleException(e);
  }
}

// ---- TMemo

TMemo::TMemo(TComponent* AOwner) : TControl(AOwner, PeerFactory().CreateMemo(*this), true) {
  ApplyScrollBars();
  MemoPeer().SetWordWrap(FWordWrap);
}

void TMemo::SetScrollBars(TScrollStyle AValue) {
  if (AValue == FScrollBars) return;
  FScrollBars = AValue;
  ApplyScrollBars();
}

void TMemo::ApplyScrollBars() {
  const bool v = FScrollBars == TScrollStyle::ssVertical || FScrollBars == TScrollStyle::ssBoth;
  const bool h = FScrollBars == TScrollStyle::ssHorizontal || FScrollBars == TScrollStyle::ssBoth;
  // Wrapped lines never need a horizontal bar.
  MemoPeer().SetScrollBars(v, h && !FWordWrap);
}

void TMemo::SetWordWrap(bool AValue) {
  if (AValue == FWordWrap) return;
  FWordWrap = AValue;
  MemoPeer().SetWordWrap(AValue);
  ApplyScrollBars();
}

void TMemo::SetReadOnly(bool AValue) {
  if (AValue == FReadOnly) return;
  FReadOnly = AValue;
  MemoPeer().SetReadOnly(AValue);
}

std::vector<std::string> TMemo::Lines() const {
  std::vector<std::string> lines = MemoPeer().Lines();
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

void TMemo::SetLines(const std::vector<std::string>& ALines) {
  Clear();
  for (const auto& l : ALines) Add(l);
}

void TMemo::Add(const std::string& ALine) {
  // A line added to an empty box fills its first line rather than following an empty one,
  // so an empty line added to an empty box leaves it as it was.
  if (ALine.empty() && MemoPeer().IsEmpty()) return;
  MemoPeer().AddLine(ALine);
  // Lines the peer holds back go in when the window is next brought up to date.
  PostBringUpToDate();
}

void TMemo::Clear() {
  MemoPeer().Clear();
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
