// Feeds arbitrary bytes to the description reader: it must fail with Exception or succeed,
// never crash, leak or read past its input. Inputs that read are written back and read again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/ClassRegistry.h"
#include "core/Collection.h"
#include "core/Exceptions.h"
#include "core/Reader.h"
#include "core/Writer.h"

namespace {

using namespace bunkmere;

const TEnumType KindType{"TKind", {"kA", "kB", "kC"}};
const TIdentMap ColorIdents{{"clRed", 255}};

class TFuzzItem : public TCollectionItem {
 public:
  std::string Text;
  TComponent* Ref = nullptr;
};

class TFuzzOptions : public TPersistent {
 public:
  int Kind = 0;
  TValueType Loaded = TValueType::vaNull;
  std::string Text;
};

class TFuzzNode : public TComponent {
 public:
  using TComponent::TComponent;
  const char* ClassName() const noexcept override { return "TFuzzNode"; }
  void SetParentComponent(TComponent* AParent) override { Parent = AParent; }
  TComponent* GetParentComponent() const override { return Parent; }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == TOperation::opRemove && AComponent == Ref) Ref = nullptr;
  }
  void SetRef(TComponent* AValue) {
    Ref = AValue;
    if (AValue != nullptr) FreeNotification(AValue);
  }
  TComponent* Parent = nullptr;
  TComponent* Ref = nullptr;
  std::int64_t Number = 0;
  short Small = 0;
  bool Flag = false;
  std::string Text;
  std::string OnEvent;
  double Real = 0;
  int Kind = 0;
  unsigned Kinds = 0;
  std::vector<std::string> Lines;
  TFuzzOptions Options;
  TTypedCollection<TFuzzItem> Items;
};

void RegisterFuzzClasses() {
  static const bool done = [] {
    RegisterCoreClasses();
    Register<TFuzzOptions, TPersistent>("TFuzzOptions")
        .Enum("Kind", KindType, &TFuzzOptions::Kind, &TFuzzOptions::Kind)
        .Custom(
            "Mode",
            [](TFuzzOptions& o, TReader& r) {
              o.Loaded = r.NextValue();
              o.Text = o.Loaded == TValueType::vaIdent ? r.ReadIdent() : r.ReadString();
            },
            [](const TFuzzOptions& o, TWriter& w) {
              if (o.Loaded == TValueType::vaIdent)
                w.WriteIdent(o.Text);
              else
                w.WriteString(o.Text);
            },
            [](const TFuzzOptions& o) { return o.Loaded != TValueType::vaNull; });
    Register<TFuzzItem, TCollectionItem>("TFuzzItem")
        .String("Text", &TFuzzItem::Text, &TFuzzItem::Text)
        .Component<TComponent>("Ref", &TFuzzItem::Ref, &TFuzzItem::Ref);
    Register<TFuzzNode, TComponent>("TFuzzNode")
        .Integer("Number", &TFuzzNode::Number, &TFuzzNode::Number)
        .Default(0)
        .Idents(ColorIdents)
        .Integer("Small", &TFuzzNode::Small, &TFuzzNode::Small)
        .Default(0)
        .Boolean("Flag", &TFuzzNode::Flag, &TFuzzNode::Flag)
        .Default(false)
        .String("Text", &TFuzzNode::Text, &TFuzzNode::Text)
        .Ident("OnEvent", &TFuzzNode::OnEvent, &TFuzzNode::OnEvent)
        .Float("Real", &TFuzzNode::Real, &TFuzzNode::Real)
        .Default(0.0)
        .Enum("Kind", KindType, &TFuzzNode::Kind, &TFuzzNode::Kind)
        .Default(0)
        .Set("Kinds", KindType, &TFuzzNode::Kinds, &TFuzzNode::Kinds)
        .Default(0)
        .Lines("Lines", &TFuzzNode::Lines, &TFuzzNode::Lines)
        .Object("Options", &TFuzzNode::Options)
        .Collection("Items", &TFuzzNode::Items)
        .Component<TComponent>("Ref", &TFuzzNode::Ref, &TFuzzNode::SetRef);
    return true;
  }();
  (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  RegisterFuzzClasses();
  // A copy of exactly the input's bytes, so reading one byte too far is caught.
  const std::vector<char> bytes(AData, AData + ASize);
  const std::string_view text(bytes.data(), bytes.size());
  TFuzzNode root(nullptr);
  try {
    ReadComponentDescription(root, text);
  } catch (const Exception&) {
    if (root.ComponentCount() != 0 || root.IsLoading()) __builtin_trap();
    return 0;
  }
  const std::string written = WriteComponentDescription(root);
  TFuzzNode again(nullptr);
  try {
    ReadComponentDescription(again, written);
  } catch (const Exception&) {
    return 0;  // e.g. a reference the writer names through another owner
  }
  if (WriteComponentDescription(again) != written) __builtin_trap();
  return 0;
}
