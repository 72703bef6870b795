#include "ui/HeadlessPeers.h"

#include <cstdio>

#include "core/StrUtils.h"

namespace bunkmere {
namespace {

template <class Base>
class THeadlessControl : public Base {
 public:
  void SetBounds(const TRect&) override {}
  void SetVisible(bool) override {}
  void SetFont(const TFontData&) override {}
  void SetTabStop(bool) override {}
  void SetParent(TFormPeer*) override {}
  void SetFocus() override {}
  void Invalidate() override {}
  void PaintNow() override {}
  // There is no event loop to run it from.
  void Post(std::function<void()>) override {}
};

class THeadlessLabel final : public THeadlessControl<TLabelPeer> {
 public:
  void SetText(const std::string&) override {}
  // Auto-sized labels need some extent; nothing is drawn, so any consistent one will do.
  std::pair<int, int> TextExtent(const std::string& AText) const override {
    return {static_cast<int>(AText.size()) * 6, 13};
  }
};

class THeadlessButton final : public THeadlessControl<TButtonPeer> {
 public:
  void SetText(const std::string&) override {}
};

class THeadlessMemo final : public THeadlessControl<TMemoPeer> {
 public:
  void SetScrollBars(bool, bool) override {}
  void SetWordWrap(bool) override {}
  void SetReadOnly(bool) override {}
  bool IsEmpty() const override { return FLines.empty(); }
  void AddLine(const std::string& ALine) override { FLines.push_back(ALine); }
  void BringUpToDate() override {}
  std::vector<std::string> Lines() const override { return FLines; }
  void Clear() override { FLines.clear(); }

 private:
  std::vector<std::string> FLines;
};

class THeadlessProgressBar final : public THeadlessControl<TProgressBarPeer> {
 public:
  void SetState(int, int, int) override {}
};

class THeadlessForm final : public TFormPeer {
 public:
  void SetCaption(const std::string&) override {}
  void Move(int, int) override {}
  void SetColor(TColor) override {}
  void SetFont(const TFontData&) override {}
  void SetBorder(TFormBorderStyle, std::uint8_t) override {}
  void SetClientSize(int, int, bool, bool) override {}
  void Show(TWindowState) override { FVisible = true; }
  void SetWindowState(TWindowState) override {}
  bool IsMaximized() const override { return false; }
  void Close() override { FVisible = false; }
  bool IsVisible() const override { return FVisible; }
  void SetTabOrder(const std::vector<TControlPeer*>&) override {}
  std::optional<TRect> ScreenWorkArea() const override { return std::nullopt; }
  // The stored layout's own density: nothing is scaled.
  int ScreenPixelsPerInch() const override { return 96; }
  double ScreenRefreshRate() const override { return 0; }
  void PaintNow() override {}

 private:
  bool FVisible = false;
};

class THeadlessApplication final : public TApplicationPeer {
 public:
  void SetTitle(const std::string&) override {}
  void SetIcon(std::string_view) override {}
  void ShowMessageBox(const std::string& ACaption, const std::string& AText, TMsgDlgType) override {
    const std::string line = OneLine(ACaption + ": " + AText) + "\n";
    std::fputs(line.c_str(), stderr);
  }
  // No window can be closed by anyone: there is no loop to run.
  int Run() override { return 0; }
  void ProcessMessages() override {}
};

class THeadlessFactory final : public TPeerFactory {
 public:
  std::unique_ptr<TApplicationPeer> CreateApplication(const char*) override {
    return std::make_unique<THeadlessApplication>();
  }
  std::unique_ptr<TFormPeer> CreateForm(TPeerEvents&) override {
    return std::make_unique<THeadlessForm>();
  }
  std::unique_ptr<TLabelPeer> CreateLabel(TPeerEvents&) override {
    return std::make_unique<THeadlessLabel>();
  }
  std::unique_ptr<TButtonPeer> CreateButton(TPeerEvents&) override {
    return std::make_unique<THeadlessButton>();
  }
  std::unique_ptr<TMemoPeer> CreateMemo(TPeerEvents&) override {
    return std::make_unique<THeadlessMemo>();
  }
  std::unique_ptr<TProgressBarPeer> CreateProgressBar(TPeerEvents&) override {
    return std::make_unique<THeadlessProgressBar>();
  }
};

}  // namespace

TPeerFactory& HeadlessPeerFactory() {
  // Stateless: every peer it makes is owned by its control.
  static THeadlessFactory factory;
  return factory;
}

}  // namespace bunkmere
