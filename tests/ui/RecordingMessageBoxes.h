#pragma once
// Message boxes answered by the test: every box shown is recorded with its caption, text and
// kind, and dismissed at once.

#include <string>
#include <vector>

#include "ui/Application.h"

namespace bunkmere::testing {

struct ShownBox {
  std::string Caption;
  std::string Text;
  TMsgDlgType Type;
};

class RecordingMessageBoxes final : public TMessageBoxes {
 public:
  RecordingMessageBoxes() : FOverride(*this) {}
  void Show(const std::string& ACaption, const std::string& AText, TMsgDlgType AType) override {
    Boxes.push_back({ACaption, AText, AType});
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& b : Boxes) t.push_back(b.Text);
    return t;
  }
  std::vector<ShownBox> Boxes;

 private:
  TMessageBoxesOverride FOverride;
};

}  // namespace bunkmere::testing
