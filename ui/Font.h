#pragma once
// TFont: a control's or form's font as a nested persistent object, so a description can set
// it part by part (Font.Height = -11, Font.Style = [fsBold]). Every change is reported to
// the object that holds the font.

#include <functional>
#include <string>

#include "core/Persistent.h"
#include "ui/Graphics.h"

namespace bunkmere {

class TFont final : public TPersistent {
 public:
  TFont() = default;
  const char* ClassName() const noexcept override { return "TFont"; }

  const TFontData& Data() const noexcept { return FData; }
  // Replaces every part at once; reports one change.
  void Assign(const TFontData& AData);

  int Charset() const noexcept { return FData.Charset; }
  void SetCharset(int AValue) { Change(&TFontData::Charset, AValue); }
  TColor Color() const noexcept { return FData.Color; }
  void SetColor(TColor AValue) { Change(&TFontData::Color, AValue); }
  int Height() const noexcept { return FData.Height; }
  void SetHeight(int AValue) { Change(&TFontData::Height, AValue); }
  const std::string& Name() const noexcept { return FData.Name; }
  void SetName(const std::string& AValue) { Change(&TFontData::Name, AValue); }
  // Bits of TFontStyle.
  std::uint8_t Style() const noexcept { return FData.Style.Bits(); }
  void SetStyle(std::uint8_t AValue) { Change(&TFontData::Style, TFontStyles::FromBits(AValue)); }

  // Told after every change.
  std::function<void()> OnChange;
  // Whether the holder stores this font in a description (a control following its parent's
  // font stores none); empty means always.
  std::function<bool()> IsStored;
  bool Stored() const { return !IsStored || IsStored(); }

 private:
  template <class M, class V>
  void Change(M TFontData::*AMember, const V& AValue) {
    FData.*AMember = AValue;
    if (OnChange) OnChange();
  }
  TFontData FData;
};

}  // namespace bunkmere
