#pragma once
// Value types the window's controls share: colours, fonts, anchors and the ampersand rule of
// captions. Kept free of Qt so the stored description and the geometry rules can be tested
// without a display.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bunkmere {

// A colour as stored descriptions hold it: 0x00BBGGRR for a plain colour, or a system colour
// (high bit set, the low byte naming the system element) that follows the desktop's palette.
using TColor = std::int32_t;

inline constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnText = clSystemColor | 18;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;

// The identifier a description uses for a colour ("clBtnFace"), empty when it has none.
std::string ColorToIdent(TColor AColor);
std::optional<TColor> IdentToColor(std::string_view AIdent);

enum class TFontStyle : std::uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };

// A small set of font styles.
class TFontStyles {
 public:
  constexpr TFontStyles() = default;
  constexpr bool Contains(TFontStyle s) const { return (FBits & Bit(s)) != 0; }
  constexpr TFontStyles& Include(TFontStyle s) {
    FBits |= Bit(s);
    return *this;
  }
  constexpr TFontStyles& Exclude(TFontStyle s) {
    FBits &= static_cast<std::uint8_t>(~Bit(s));
    return *this;
  }
  constexpr std::uint8_t Bits() const { return FBits; }
  static constexpr TFontStyles FromBits(std::uint8_t ABits) {
    TFontStyles s;
    s.FBits = ABits & 0x0F;
    return s;
  }
  constexpr bool operator==(const TFontStyles&) const = default;

 private:
  static constexpr std::uint8_t Bit(TFontStyle s) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(s));
  }
  std::uint8_t FBits = 0;
};

inline constexpr int DEFAULT_CHARSET = 1;

// A font as the window's description gives it. Height < 0 is the character height in pixels
// (what descriptions store); Height > 0 is the cell height including internal leading.
struct TFontData {
  std::string Name = "MS Sans Serif";
  int Height = -11;
  TFontStyles Style;
  int Charset = DEFAULT_CHARSET;
  TColor Color = clWindowText;
  bool operator==(const TFontData&) const = default;
};

// Point size of a font height at a density, rounded as the description's designer rounds it
// (-11 at 96 pixels per inch is 8 points).
int FontHeightToSize(int AHeight, int APixelsPerInch);

enum class TAnchorKind : std::uint8_t { akLeft, akTop, akRight, akBottom };

class TAnchors {
 public:
  constexpr TAnchors() = default;
  constexpr TAnchors(std::initializer_list<TAnchorKind> AKinds) {
    for (auto k : AKinds) Include(k);
  }
  constexpr bool Contains(TAnchorKind k) const { return (FBits & Bit(k)) != 0; }
  constexpr TAnchors& Include(TAnchorKind k) {
    FBits |= Bit(k);
    return *this;
  }
  constexpr std::uint8_t Bits() const { return FBits; }
  static constexpr TAnchors FromBits(std::uint8_t ABits) {
    TAnchors a;
    a.FBits = ABits & 0x0F;
    return a;
  }
  constexpr bool operator==(const TAnchors&) const = default;

 private:
  static constexpr std::uint8_t Bit(TAnchorKind k) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(k));
  }
  std::uint8_t FBits = 0;
};

inline constexpr TAnchors DefaultAnchors{TAnchorKind::akLeft, TAnchorKind::akTop};

struct TRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool operator==(const TRect&) const = default;
};

// Where an anchored control goes when its parent's client area changes from ADesignWidth x
// ADesignHeight to AWidth x AHeight. Anchored on both sides it stretches; on the far side only
// it keeps its distance from that side; on neither it keeps its centre at the same fraction of
// the parent's extent.
TRect AnchoredBounds(const TRect& ADesign, int ADesignWidth, int ADesignHeight, TAnchors AAnchors,
                     int AWidth, int AHeight);

// Scales a length from one density to another, rounding to nearest as form scaling does.
int ScaleLength(int AValue, int AMultiplier, int ADivisor);

// The text a caption draws: a single "&" marks the next character as the access key and is
// not drawn, "&&" draws one "&".
std::string StripAccelChars(std::string_view ACaption);

// The message the application's error box shows: a full stop is appended when the last
// character sorts after the full stop.
std::string ErrorBoxText(std::string_view AMessage);

}  // namespace bunkmere
