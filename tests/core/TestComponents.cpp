#include "tests/core/TestComponents.h"

#include "core/ClassRegistry.h"
#include "core/Exceptions.h"
#include "core/Reader.h"
#include "core/Writer.h"

namespace bunkmere::testing {

std::vector<std::string>& Log() {
  static std::vector<std::string> log;
  return log;
}

int& LiveCount() {
  static int count = 0;
  return count;
}

TTestWidget::TTestWidget(TComponent* AOwner) : TComponent(AOwner), FItems() {
  ++LiveCount();
  LoadingInConstructor = IsLoading();
  Log().push_back(std::string("create ") + ClassName());
}

TTestWidget::~TTestWidget() {
  --LiveCount();
}

void TTestWidget::Loaded() {
  TComponent::Loaded();
  Log().push_back("loaded " + Name());
}

void TTestWidget::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == FBuddy) FBuddy = nullptr;
}

void TTestWidget::SetBuddy(TTestWidget* AValue) {
  FBuddy = AValue;
  if (AValue != nullptr) FreeNotification(AValue);
  Log().push_back("set " + Name() + ".Buddy=" + (AValue ? AValue->Name() : "nil"));
}

void TTestPanel::SetParentComponent(TComponent* AParent) {
  FParent = AParent;
  Log().push_back("parent " + Name() + "=" + AParent->Name());
}

TFailingWidget::TFailingWidget(TComponent* AOwner) : TTestWidget(AOwner) {
  throw EFileError("cannot reach the device");
}

void TInterceptingWidget::ReadState(TReader& AReader) {
  while (!AReader.EndOfList()) {
    if (SameName(AReader.PropertyName(), "Secret")) {
      Secret = AReader.ReadString();
      AReader.SkipProperty();
    } else {
      AReader.ReadProperty(*this);
    }
  }
}

void TTestForm::Loaded() {
  TComponent::Loaded();
  Log().push_back("loaded " + Name());
}

namespace {

const TEnumType ShapeType{"TShape", {"shCircle", "shSquare", "shTriangle"}};
const TEnumType StyleType{"TFontStyle", {"fsBold", "fsItalic", "fsUnderline"}};
const TEnumType ProviderType{"TProvider", {"prAuto", "prSQL", "prNative"}};
const TIdentMap ColorIdents{{"clBlack", 0}, {"clRed", 0xFF}, {"clBtnFace", 0x8000000F}};

const char* ProviderText(int AProvider) {
  return AProvider == 2 ? "NATIVE.1" : "SQL.1";
}

void ReadProvider(TTestOptions& AOptions, TReader& AReader) {
  AOptions.LoadedType = AReader.NextValue();
  if (AOptions.LoadedType == TValueType::vaIdent) {
    AOptions.LoadedText = AReader.ReadIdent();
    const auto member = ProviderType.Find(AOptions.LoadedText);
    AOptions.Provider = member ? *member : -1;
  } else {
    AOptions.LoadedText = AReader.ReadString();
    AOptions.Provider = AOptions.LoadedText == "NATIVE.1" ? 2
                        : AOptions.LoadedText == "SQL.1"  ? 1
                                                          : 0;
  }
}

void WriteProvider(const TTestOptions& AOptions, TWriter& AWriter) {
  if (AOptions.LoadedType == TValueType::vaString)
    AWriter.WriteString(ProviderText(AOptions.Provider));
  else
    AWriter.WriteIdent(ProviderType.Members.at(static_cast<std::size_t>(AOptions.Provider)));
}

bool ShouldWriteProvider(const TTestOptions& AOptions) {
  return AOptions.Provider != 0 ||
         (AOptions.LoadedType == TValueType::vaString && AOptions.LoadedText == ProviderText(0));
}

}  // namespace

void RegisterTestClasses() {
  static const bool done = [] {
    RegisterCoreClasses();
    Register<TTestFont, TPersistent>("TTestFont")
        .String("Name", &TTestFont::Name, &TTestFont::Name)
        .Default("Sans")
        .Integer("Size", &TTestFont::Size, &TTestFont::Size)
        .Default(8)
        .Set("Style", StyleType, &TTestFont::Style, &TTestFont::Style)
        .Default(0)
        .Integer("Color", &TTestFont::Color, &TTestFont::Color)
        .Default(0)
        .Idents(ColorIdents);
    Register<TTestOptions, TPersistent>("TTestOptions")
        .Enum("Provider", ProviderType, &TTestOptions::Provider, &TTestOptions::Provider)
        .Default(0)
        .Boolean("Compress", &TTestOptions::Compress, &TTestOptions::Compress)
        .Default(false)
        .Custom("Provider", ReadProvider, WriteProvider, ShouldWriteProvider);
    Register<TTestForm, TComponent>("TTestForm")
        .String("Caption", &TTestForm::Caption, &TTestForm::Caption);
    Register<TTestWidget, TComponent>("TTestWidget")
        .Integer("Count", &TTestWidget::Count, &TTestWidget::Count)
        .Boolean("Enabled", &TTestWidget::Enabled, &TTestWidget::Enabled)
        .Default(true)
        .String("Caption", &TTestWidget::Caption,
                [](TTestWidget& w, const std::string& v) {
                  w.Caption = v;
                  w.LoadingWhileRead = w.IsLoading();
                })
        .Float("Ratio", &TTestWidget::Ratio, &TTestWidget::Ratio)
        .Default(0.0)
        .Enum("Shape", ShapeType, &TTestWidget::Shape, &TTestWidget::Shape)
        .Default(TShape::shCircle)
        .Set("Styles", StyleType, &TTestWidget::Styles, &TTestWidget::Styles)
        .Default(0)
        .Object("Font", &TTestWidget::Font)
        .Object("Options", &TTestWidget::Options)
        .Lines("Lines", &TTestWidget::Lines, &TTestWidget::Lines)
        .Collection("Items", &TTestWidget::Items)
        .Component<TTestWidget>("Buddy", &TTestWidget::Buddy, &TTestWidget::SetBuddy)
        .Ident("OnClick", &TTestWidget::OnClick, &TTestWidget::OnClick)
        .Boolean("Hidden", &TTestWidget::Hidden, &TTestWidget::Hidden)
        .Stored([](const TTestWidget& w) { return w.Count > 5; })
        .String("Version", [](const TTestWidget&) { return std::string("2.1"); });
    Register<TTestItem, TCollectionItem>("TTestItem")
        .String("Caption", &TTestItem::Caption, &TTestItem::Caption)
        .Integer("Width", &TTestItem::Width, &TTestItem::Width)
        .Default(10)
        .Component<TTestWidget>("Link", &TTestItem::Link, &TTestItem::Link);
    Register<TTestPanel, TTestWidget>("TTestPanel");
    Register<TFailingWidget, TTestWidget>("TFailingWidget");
    Register<TInterceptingWidget, TTestWidget>("TInterceptingWidget");
    return true;
  }();
  (void)done;
}

}  // namespace bunkmere::testing
