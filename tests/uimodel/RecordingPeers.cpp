#include "tests/uimodel/RecordingPeers.h"

#include <algorithm>

namespace bunkmere {
namespace testing {

TRecording& Recording() {
  static TRecording recording;
  return recording;
}

namespace {

void Note(const std::string& AWhat) {
  Recording().Calls.push_back(AWhat);
}

std::string RectText(const TRect& r) {
  return std::to_string(r.Left) + "," + std::to_string(r.Top) + "," + std::to_string(r.Width) +
         "," + std::to_string(r.Height);
}

template <class Base>
class TRecordingControl : public Base {
 public:
  explicit TRecordingControl(std::string AKind) : FKind(std::move(AKind)) {}
  ~TRecordingControl() override {
    // A peer freed first takes its posted calls with it.
    auto& posted = Recording().Posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [this](const auto& p) { return p.first == this; }),
                 posted.end());
  }
  void SetBounds(const TRect& r) override { Note(FKind + " SetBounds " + RectText(r)); }
  void SetVisible(bool AValue) override { Note(FKind + " SetVisible " + std::to_string(AValue)); }
  void SetFont(const TFontData& AFont) override {
    Note(FKind + " SetFont " + AFont.Name + " " + std::to_string(AFont.Height));
  }
  void SetTabStop(bool AValue) override { Note(FKind + " SetTabStop " + std::to_string(AValue)); }
  void SetParent(TFormPeer* AParent) override {
    Note(FKind + (AParent ? " SetParent form" : " SetParent none"));
  }
  void SetFocus() override { Note(FKind + " SetFocus"); }
  void Invalidate() override { Note(FKind + " Invalidate"); }
  void PaintNow() override { Note(FKind + " PaintNow"); }
  void Post(std::function<void()> ACall) override {
    Recording().Posted.emplace_back(this, std::move(ACall));
  }
  void Realise() override { Note(FKind + " Realise"); }

 protected:
  std::string FKind;
};

class TRecordingLabel final : public TRecordingControl<TLabelPeer> {
 public:
  TRecordingLabel() : TRecordingControl("label") {}
  void SetText(const std::string& AText) override { Note("label SetText " + AText); }
  // Every character 6 pixels wide, a line 13 high.
  std::pair<int, int> TextExtent(const std::string& AText) const override {
    return {static_cast<int>(AText.size()) * 6, 13};
  }
};

class TRecordingButton final : public TRecordingControl<TButtonPeer> {
 public:
  TRecordingButton() : TRecordingControl("button") {}
  void SetText(const std::string& AText) override { Note("button SetText " + AText); }
};

class TRecordingMemo final : public TRecordingControl<TMemoPeer> {
 public:
  TRecordingMemo() : TRecordingControl("memo") {}
  void SetScrollBars(bool V, bool H) override {
    Note("memo SetScrollBars " + std::to_string(V) + std::to_string(H));
  }
  void SetWordWrap(bool AValue) override { Note("memo SetWordWrap " + std::to_string(AValue)); }
  void SetReadOnly(bool AValue) override { Note("memo SetReadOnly " + std::to_string(AValue)); }
  bool IsEmpty() const override { return FLines.empty(); }
  void AddLine(const std::string& ALine) override {
    Note("memo AddLine " + ALine);
    FLines.push_back(ALine);
  }
  void BringUpToDate() override { Note("memo BringUpToDate"); }
  std::vector<std::string> Lines() const override { return FLines; }
  void Clear() override {
    Note("memo Clear");
    FLines.clear();
  }

 private:
  std::vector<std::string> FLines;
};

class TRecordingProgressBar final : public TRecordingControl<TProgressBarPeer> {
 public:
  TRecordingProgressBar() : TRecordingControl("bar") {}
  void SetState(int AMin, int AMax, int APosition) override {
    Note("bar SetState " + std::to_string(AMin) + "," + std::to_string(AMax) + "," +
         std::to_string(APosition));
  }
};

class TRecordingForm final : public TFormPeer {
 public:
  void SetCaption(const std::string& AValue) override { Note("form SetCaption " + AValue); }
  void Move(int L, int T) override {
    Note("form Move " + std::to_string(L) + "," + std::to_string(T));
  }
  void SetColor(TColor AValue) override { Note("form SetColor " + std::to_string(AValue)); }
  void SetFont(const TFontData& AFont) override { Note("form SetFont " + AFont.Name); }
  void SetBorder(TFormBorderStyle AStyle, std::uint8_t AIcons) override {
    Note("form SetBorder " + std::to_string(static_cast<int>(AStyle)) + "," +
         std::to_string(AIcons));
  }
  void SetClientSize(int W, int H, bool AFixed, bool AResize) override {
    Note("form SetClientSize " + std::to_string(W) + "," + std::to_string(H) + "," +
         std::to_string(AFixed) + std::to_string(AResize));
  }
  void Show(TWindowState AState) override {
    Note("form Show " + std::to_string(static_cast<int>(AState)));
    Recording().WindowVisible = true;
  }
  void SetWindowState(TWindowState AState) override {
    Note("form SetWindowState " + std::to_string(static_cast<int>(AState)));
  }
  bool IsMaximized() const override { return Recording().WindowMaximized; }
  void Close() override {
    Note("form Close");
    Recording().WindowVisible = false;
  }
  bool IsVisible() const override { return Recording().WindowVisible; }
  void SetTabOrder(const std::vector<TControlPeer*>& AControls) override {
    Note("form SetTabOrder " + std::to_string(AControls.size()));
  }
  std::optional<TRect> ScreenWorkArea() const override { return TRect{0, 0, 1024, 768}; }
  int ScreenPixelsPerInch() const override { return 96; }
  double ScreenRefreshRate() const override { return 60.0; }
  void PaintNow() override { Note("form PaintNow"); }
};

class TRecordingApplication final : public TApplicationPeer {
 public:
  void SetTitle(const std::string&) override {}
  void SetIcon(std::string_view) override {}
  void ShowMessageBox(const std::string& ACaption, const std::string& AText,
                      TMsgDlgType AType) override {
    Recording().Boxes.push_back(ACaption + "|" + AText + "|" +
                                (AType == TMsgDlgType::mtError ? "error" : "information"));
  }
  int Run() override { return 0; }
  void ProcessMessages() override { Recording().RunPosted(); }
};

class TRecordingFactory final : public TPeerFactory {
 public:
  std::unique_ptr<TApplicationPeer> CreateApplication(const char*) override {
    return std::make_unique<TRecordingApplication>();
  }
  std::unique_ptr<TFormPeer> CreateForm(TPeerEvents&) override {
    return std::make_unique<TRecordingForm>();
  }
  std::unique_ptr<TLabelPeer> CreateLabel(TPeerEvents&) override {
    return std::make_unique<TRecordingLabel>();
  }
  std::unique_ptr<TButtonPeer> CreateButton(TPeerEvents&) override {
    return std::make_unique<TRecordingButton>();
  }
  std::unique_ptr<TMemoPeer> CreateMemo(TPeerEvents&) override {
    return std::make_unique<TRecordingMemo>();
  }
  std::unique_ptr<TProgressBarPeer> CreateProgressBar(TPeerEvents&) override {
    return std::make_unique<TRecordingProgressBar>();
  }
};

}  // namespace
}  // namespace testing

TPeerFactory& ToolkitPeerFactory() {
  static testing::TRecordingFactory factory;
  return factory;
}

}  // namespace bunkmere
