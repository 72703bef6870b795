#include "ui/Graphics.h"

#include <array>
#include <cstdint>

namespace bunkmere {
namespace {

struct ColorIdent {
  TColor Color;
  std::string_view Ident;
};

constexpr std::array<ColorIdent, 6> kColorIdents{{
    {clBlack, "clBlack"},
    {clWhite, "clWhite"},
    {clWindowText, "clWindowText"},
    {clWindow, "clWindow"},
    {clBtnFace, "clBtnFace"},
    {clBtnText, "clBtnText"},
}};

// a * b / c rounded half away from zero, in 64 bits so no product overflows; 0 for c == 0
// rather than a trap, since densities and design sizes come from a stored description.
int MulDiv(int a, int b, int c) {
  if (c == 0) return 0;
  const std::int64_t p = static_cast<std::int64_t>(a) * b;
  const std::int64_t half = (c < 0 ? -c : c) / 2;
  const std::int64_t q = ((p < 0) != (c < 0)) ? (p - half) / c : (p + half) / c;
  return static_cast<int>(q);
}

}  // namespace

std::string ColorToIdent(TColor AColor) {
  for (const auto& c : kColorIdents)
    if (c.Color == AColor) return std::string(c.Ident);
  return {};
}

std::optional<TColor> IdentToColor(std::string_view AIdent) {
  for (const auto& c : kColorIdents)
    if (c.Ident == AIdent) return c.Color;
  return std::nullopt;
}

int FontHeightToSize(int AHeight, int APixelsPerInch) {
  return -MulDiv(AHeight, 72, APixelsPerInch);
}

int ScaleLength(int AValue, int AMultiplier, int ADivisor) {
  return MulDiv(AValue, AMultiplier, ADivisor);
}

TRect AnchoredBounds(const TRect& ADesign, int ADesignWidth, int ADesignHeight, TAnchors AAnchors,
                     int AWidth, int AHeight) {
  TRect r = ADesign;
  auto place = [](int& pos, int& len, bool nearSide, bool farSide, int designExtent, int extent) {
    const int delta = extent - designExtent;
    if (nearSide && farSide) {
      len = len + delta < 0 ? 0 : len + delta;
    } else if (farSide) {
      pos += delta;
    } else if (!nearSide) {
      const int centre = pos + len / 2;
      pos = MulDiv(centre, extent, designExtent) - len / 2;
    }
  };
  place(r.Left, r.Width, AAnchors.Contains(TAnchorKind::akLeft),
        AAnchors.Contains(TAnchorKind::akRight), ADesignWidth, AWidth);
  place(r.Top, r.Height, AAnchors.Contains(TAnchorKind::akTop),
        AAnchors.Contains(TAnchorKind::akBottom), ADesignHeight, AHeight);
  return r;
}

std::string StripAccelChars(std::string_view ACaption) {
  std::string out;
  out.reserve(ACaption.size());
  for (std::size_t i = 0; i < ACaption.size(); ++i) {
    if (ACaption[i] != '&') {
      out += ACaption[i];
    } else if (i + 1 < ACaption.size() && ACaption[i + 1] == '&') {
      out += '&';
      ++i;
    }
  }
  return out;
}

std::string ErrorBoxText(std::string_view AMessage) {
  std::string out(AMessage);
  // Compared as unsigned bytes: the lead byte of any non-ASCII UTF-8 character sorts after
  // '.', as the character itself would.
  if (!out.empty() && static_cast<unsigned char>(out.back()) > '.') out += '.';
  return out;
}

}  // namespace bunkmere
