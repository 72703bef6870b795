// A window read from a stored description: properties reach the controls, handlers bind by
// name, and writing the window gives back the description.
#include <gtest/gtest.h>

#include <QPushButton>

#include "core/Exceptions.h"
#include "core/Reader.h"
#include "core/Writer.h"
#include "ui/Form.h"
#include "ui/ProgressBar.h"
#include "ui/RegisterControls.h"
#include "ui/StdCtrls.h"
#include "ui/qt/QtPeers.h"

namespace bunkmere {
namespace {

class TTestForm : public TForm {
 public:
  explicit TTestForm(TComponent* AOwner) : TForm(AOwner) {
    RegisterControlClasses();
    PublishMethod("btnGoClick", [this](TComponent*) { ++Clicks; });
  }
  int Clicks = 0;
};

// Written in the order and form the writer uses, so the round trip compares whole texts.
constexpr const char* kDescription = R"(object frmTest: TForm
  Left = 226
  Top = 138
  BorderStyle = bsSingle
  Caption = 'Test & Window'
  ClientHeight = 420
  ClientWidth = 674
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  OldCreateOrder = False
  Position = poScreenCenter
  PixelsPerInch = 96
  TextHeight = 13
  object lblStatus: TLabel
    Left = 33
    Top = 43
    Width = 48
    Height = 13
    Caption = '[XXXXXX]'
  end
  object btnGo: TButton
    Left = 220
    Top = 78
    Width = 237
    Height = 25
    Anchors = [akTop]
    Font.Charset = DEFAULT_CHARSET
    Font.Color = clWindowText
    Font.Height = -11
    Font.Name = 'MS Sans Serif'
    Font.Style = [fsBold]
    ParentFont = False
    TabOrder = 0
    Caption = 'Start Synchronization Of  Cells'
    OnClick = btnGoClick
  end
  object Bar: TProgressBar
    Left = 1
    Top = 23
    Width = 497
    Height = 16
    TabOrder = 1
  end
  object Log: TMemo
    Left = 8
    Top = 136
    Width = 657
    Height = 265
    Anchors = [akLeft, akTop, akRight, akBottom]
    TabOrder = 7
    ScrollBars = ssVertical
  end
end
)";

TEST(WindowDescription, ReadsControlsOntoTheFormAndBindsHandlers) {
  TTestForm form(nullptr);
  form.SetScreenPixelsPerInch(96);
  ReadComponentDescription(form, kDescription);
  EXPECT_EQ(form.Caption(), "Test & Window");
  EXPECT_EQ(form.BorderStyle(), TFormBorderStyle::bsSingle);
  EXPECT_EQ(form.Position(), TPosition::poScreenCenter);
  ASSERT_EQ(form.Controls().size(), 4u);

  auto* btn = ComponentCast<TButton>(form.FindComponent("btnGo"));
  EXPECT_EQ(btn->Parent(), &form);
  EXPECT_EQ(QtWidget(*btn)->parentWidget(), QtWindow(form));
  EXPECT_TRUE(btn->Font().Style.Contains(TFontStyle::fsBold));
  EXPECT_TRUE(QtWidget(*btn)->font().bold());
  EXPECT_FALSE(btn->ParentFont());
  EXPECT_EQ(static_cast<QPushButton*>(QtWidget(*btn))->text().toStdString(),
            "Start Synchronization Of  Cells");
  btn->Click();
  EXPECT_EQ(form.Clicks, 1);

  auto* label = ComponentCast<TLabel>(form.FindComponent("lblStatus"));
  EXPECT_FALSE(QtWidget(*label)->font().bold());
  EXPECT_EQ(label->Font().Name, "MS Sans Serif");
  EXPECT_EQ(form.ActiveControl(), btn);
  auto* log = ComponentCast<TMemo>(form.FindComponent("Log"));
  EXPECT_EQ(log->ScrollBars(), TScrollStyle::ssVertical);
  EXPECT_EQ(log->Anchors(), (TAnchors{TAnchorKind::akLeft, TAnchorKind::akTop, TAnchorKind::akRight,
                                      TAnchorKind::akBottom}));
  EXPECT_EQ(ComponentCast<TProgressBar>(form.FindComponent("Bar"))->Max(), 100);
}

TEST(WindowDescription, WritingTheWindowGivesTheDescriptionBack) {
  TTestForm form(nullptr);
  form.SetScreenPixelsPerInch(96);
  ReadComponentDescription(form, kDescription);
  // The label sized itself to its text; put the stored size back before comparing.
  auto* label = ComponentCast<TLabel>(form.FindComponent("lblStatus"));
  label->SetAutoSize(false);
  label->SetBounds(33, 43, 48, 13);
  std::string written = WriteComponentDescription(form);
  // AutoSize false is the one entry the reset above adds.
  const std::string autoSize = "    AutoSize = False\n";
  const auto at = written.find(autoSize);
  ASSERT_NE(at, std::string::npos);
  written.erase(at, autoSize.size());
  EXPECT_EQ(written, kDescription);
}

TEST(WindowDescription, AHandlerTheFormDoesNotPublishFailsTheReading) {
  TTestForm form(nullptr);
  std::string text = kDescription;
  text.replace(text.find("OnClick = btnGoClick"), 20, "OnClick = btnNoClick");
  EXPECT_THROW(ReadComponentDescription(form, text), Exception);
  EXPECT_EQ(form.ComponentCount(), 0);  // nothing the reading created stays
  EXPECT_TRUE(form.Controls().empty());
}

}  // namespace
}  // namespace bunkmere
