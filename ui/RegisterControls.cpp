#include "ui/RegisterControls.h"

#include "core/ClassRegistry.h"
#include "core/Reader.h"
#include "core/Writer.h"
#include "ui/Form.h"
#include "ui/ProgressBar.h"
#include "ui/StdCtrls.h"

namespace bunkmere {
namespace {

const TEnumType kAnchorKind{"TAnchorKind", {"akLeft", "akTop", "akRight", "akBottom"}};
const TEnumType kFontStyle{"TFontStyle", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"}};
const TEnumType kBorderIcon{"TBorderIcon", {"biSystemMenu", "biMinimize", "biMaximize"}};
const TEnumType kBorderStyle{"TFormBorderStyle", {"bsNone", "bsSingle", "bsSizeable", "bsDialog"}};
const TEnumType kPosition{"TPosition", {"poDesigned", "poScreenCenter"}};
const TEnumType kScrollStyle{"TScrollStyle", {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"}};

const TIdentMap kColors{{"clBlack", clBlack},           {"clWhite", clWhite},
                        {"clWindowText", clWindowText}, {"clWindow", clWindow},
                        {"clBtnFace", clBtnFace},       {"clBtnText", clBtnText}};
const TIdentMap kCharsets{{"ANSI_CHARSET", 0}, {"DEFAULT_CHARSET", DEFAULT_CHARSET}};

constexpr std::uint8_t kDefaultAnchorBits = DefaultAnchors.Bits();

}  // namespace

void RegisterControlClasses() {
  static const bool done = [] {
    RegisterCoreClasses();

    // A control that follows its parent's font stores none of its own: each part asks the
    // font, which asks its holder.
    const auto stored = [](const TFont& f) { return f.Stored(); };
    Register<TFont, TPersistent>("TFont")
        .Integer("Charset", &TFont::Charset, &TFont::SetCharset)
        .Idents(kCharsets)
        .Stored(stored)
        .Integer("Color", &TFont::Color, &TFont::SetColor)
        .Idents(kColors)
        .Stored(stored)
        .Integer("Height", &TFont::Height, &TFont::SetHeight)
        .Stored(stored)
        .String("Name", &TFont::Name, &TFont::SetName)
        .Stored(stored)
        .Set("Style", kFontStyle, &TFont::Style, &TFont::SetStyle)
        .Stored(stored);

    Register<TControl, TComponent>("TControl")
        .Integer("Left", &TControl::Left, &TControl::SetLeft)
        .Integer("Top", &TControl::Top, &TControl::SetTop)
        .Integer("Width", &TControl::Width, &TControl::SetWidth)
        .Integer("Height", &TControl::Height, &TControl::SetHeight)
        .Set(
            "Anchors", kAnchorKind, [](TControl& c) { return c.Anchors().Bits(); },
            [](TControl& c, std::uint8_t v) { c.SetAnchors(TAnchors::FromBits(v)); })
        .Default(kDefaultAnchorBits)
        .Object("Font", &TControl::FontObject)
        .Boolean("ParentFont", &TControl::ParentFont, &TControl::SetParentFont)
        .Default(true)
        .Integer("TabOrder", &TControl::TabOrder, &TControl::SetTabOrder)
        .Default(-1)
        .Boolean("Visible", &TControl::Visible, &TControl::SetVisible)
        .Default(true);

    Register<TLabel, TControl>("TLabel")
        .Boolean("AutoSize", &TLabel::AutoSize, &TLabel::SetAutoSize)
        .Default(true)
        .String("Caption", &TLabel::Caption, &TLabel::SetCaption);

    Register<TButton, TControl>("TButton")
        .String("Caption", &TButton::Caption, &TButton::SetCaption)
        .Boolean("TabStop", &TButton::TabStop, &TButton::SetTabStop)
        .Default(true)
        .Custom(
            "OnClick", [](TButton& b, TReader& r) { b.SetOnClickName(r.ReadIdent()); },
            [](const TButton& b, TWriter& w) { w.WriteIdent(b.OnClickName()); },
            [](const TButton& b) { return !b.OnClickName().empty(); });

    Register<TProgressBar, TControl>("TProgressBar")
        .Integer("Min", &TProgressBar::Min, &TProgressBar::SetMin)
        .Default(0)
        .Integer("Max", &TProgressBar::Max, &TProgressBar::SetMax)
        .Default(100)
        .Integer("Position", &TProgressBar::Position, &TProgressBar::SetPosition)
        .Default(0)
        .Integer("Step", &TProgressBar::Step, &TProgressBar::SetStep)
        .Default(10);

    Register<TMemo, TControl>("TMemo")
        .Lines("Lines", &TMemo::Lines, &TMemo::SetLines)
        .Boolean("ReadOnly", &TMemo::ReadOnly, &TMemo::SetReadOnly)
        .Default(false)
        .Enum("ScrollBars", kScrollStyle, &TMemo::ScrollBars, &TMemo::SetScrollBars)
        .Default(TScrollStyle::ssNone)
        .Boolean("TabStop", &TMemo::TabStop, &TMemo::SetTabStop)
        .Default(true)
        .Boolean("WordWrap", &TMemo::WordWrap, &TMemo::SetWordWrap)
        .Default(true);

    Register<TForm, TComponent>("TForm")
        .Integer("Left", &TForm::Left, &TForm::SetLeft)
        .Integer("Top", &TForm::Top, &TForm::SetTop)
        .Set("BorderIcons", kBorderIcon, &TForm::BorderIcons, &TForm::SetBorderIcons)
        .Default(std::uint8_t{0x07})
        .Enum("BorderStyle", kBorderStyle, &TForm::BorderStyle, &TForm::SetBorderStyle)
        .Default(TFormBorderStyle::bsSizeable)
        .String("Caption", &TForm::Caption, &TForm::SetCaption)
        .Integer("ClientHeight", &TForm::ClientHeight, &TForm::SetClientHeight)
        .Integer("ClientWidth", &TForm::ClientWidth, &TForm::SetClientWidth)
        .Integer("Color", &TForm::Color, &TForm::SetColor)
        .Idents(kColors)
        .Default(clBtnFace)
        .Object("Font", &TForm::FontObject)
        .Boolean("OldCreateOrder", &TForm::OldCreateOrder, &TForm::SetOldCreateOrder)
        .Enum("Position", kPosition, &TForm::Position, &TForm::SetPosition)
        .Default(TPosition::poDesigned)
        .Integer("PixelsPerInch", &TForm::PixelsPerInch, &TForm::SetPixelsPerInch)
        .Integer("TextHeight", &TForm::TextHeight, &TForm::SetTextHeight);
    return true;
  }();
  (void)done;
}

}  // namespace bunkmere
