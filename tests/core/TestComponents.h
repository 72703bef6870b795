#pragma once
// Small components for the persistence tests: one property of every kind, a stored
// condition, a read-only property, a nested options object with a custom entry, a collection,
// visual nesting, and a log of what happens to them and in which order.

#include <string>
#include <vector>

#include "core/Collection.h"
#include "core/Component.h"
#include "core/ValueType.h"

namespace bunkmere::testing {

// What the components did, in order ("create A", "set A.Buddy=B", "loaded A").
std::vector<std::string>& Log();
// Test components alive now: a failed read must leave none it created.
int& LiveCount();

enum class TShape { shCircle, shSquare, shTriangle };
enum TStyleBit : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4 };

class TTestFont : public TPersistent {
 public:
  const char* ClassName() const noexcept override { return "TTestFont"; }
  std::string Name = "Sans";
  int Size = 8;
  unsigned Style = 0;
  std::int64_t Color = 0;
};

class TTestWidget;

class TTestItem : public TCollectionItem {
 public:
  const char* ClassName() const noexcept override { return "TTestItem"; }
  std::string Caption;
  int Width = 10;
  TTestWidget* Link = nullptr;
};

// Options with an entry kept in two forms: an identifier names a provider, a string is kept as
// written. The form read is the form written back.
class TTestOptions : public TPersistent {
 public:
  const char* ClassName() const noexcept override { return "TTestOptions"; }
  int Provider = 0;  // 0 auto, 1 sql, 2 native
  bool Compress = false;
  TValueType LoadedType = TValueType::vaNull;
  std::string LoadedText;
};

class TTestWidget : public TComponent {
 public:
  explicit TTestWidget(TComponent* AOwner);
  ~TTestWidget() override;
  const char* ClassName() const noexcept override { return "TTestWidget"; }

  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TTestWidget* Buddy() const { return FBuddy; }
  void SetBuddy(TTestWidget* AValue);
  TTestFont& Font() { return FFont; }
  TTestOptions& Options() { return FOptions; }
  TTypedCollection<TTestItem>& Items() { return FItems; }

  int Count = 0;
  bool Enabled = true;
  std::string Caption;
  double Ratio = 0;
  TShape Shape = TShape::shCircle;
  unsigned Styles = 0;
  std::vector<std::string> Lines;
  std::string OnClick;  // the name of a handler
  bool Hidden = false;  // stored only while Count > 5
  bool LoadingInConstructor = false;
  bool LoadingWhileRead = false;  // was loading when Caption was set

 private:
  TTestWidget* FBuddy = nullptr;
  TTestFont FFont;
  TTestOptions FOptions;
  TTypedCollection<TTestItem> FItems;
};

// A container: blocks stored inside its block become its children.
class TTestPanel : public TTestWidget {
 public:
  using TTestWidget::TTestWidget;
  const char* ClassName() const noexcept override { return "TTestPanel"; }
  void SetParentComponent(TComponent* AParent) override;
  TComponent* GetParentComponent() const override { return FParent; }

 private:
  TComponent* FParent = nullptr;
};

// Fails in its constructor, as a component that checks its environment may.
class TFailingWidget : public TTestWidget {
 public:
  explicit TFailingWidget(TComponent* AOwner);
  const char* ClassName() const noexcept override { return "TFailingWidget"; }
};

// Takes the entry "Secret" out of its block in ReadState before the standard reading.
class TInterceptingWidget : public TTestWidget {
 public:
  using TTestWidget::TTestWidget;
  const char* ClassName() const noexcept override { return "TInterceptingWidget"; }
  void ReadState(TReader& AReader) override;
  std::string Secret;
};

// The window: the root of descriptions.
class TTestForm : public TComponent {
 public:
  using TComponent::TComponent;
  const char* ClassName() const noexcept override { return "TTestForm"; }
  void Loaded() override;
  std::string Caption;
};

// Not registered: the registry treats it as a TTestForm.
class TUnregisteredForm : public TTestForm {
 public:
  using TTestForm::TTestForm;
};

void RegisterTestClasses();

}  // namespace bunkmere::testing
