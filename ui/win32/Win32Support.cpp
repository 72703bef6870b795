#include "ui/win32/Win32Support.h"

namespace bunkmere::win32 {
namespace {

// "MS Sans Serif" is a bitmap face drawn at a few pixel heights only (those of 8, 10, 12, 14,
// 18 and 24 points at 96 pixels per inch); at any other height, as on a screen of higher
// density, its TrueType counterpart draws it sharp. At the stored heights it stays itself.
std::wstring FaceFor(const TFontData& AFont) {
  static constexpr int kBitmapHeights[] = {11, 13, 16, 19, 24, 32};
  std::wstring face = Wide(AFont.Name);
  if (CompareStringOrdinal(face.c_str(), -1, L"MS Sans Serif", -1, TRUE) != CSTR_EQUAL) return face;
  const int height = AFont.Height < 0 ? -AFont.Height : AFont.Height;
  for (int h : kBitmapHeights)
    if (h == height) return face;
  return L"Microsoft Sans Serif";
}

}  // namespace

TFontHandle MakeFont(const TFontData& AFont) {
  // The stored height is in pixels: the character height when negative, the cell height when
  // positive, exactly as the system reads a font height.
  return TFontHandle(CreateFontW(
      AFont.Height, 0, 0, 0, AFont.Style.Contains(TFontStyle::fsBold) ? FW_BOLD : FW_NORMAL,
      AFont.Style.Contains(TFontStyle::fsItalic), AFont.Style.Contains(TFontStyle::fsUnderline),
      AFont.Style.Contains(TFontStyle::fsStrikeOut), static_cast<DWORD>(AFont.Charset),
      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
      FaceFor(AFont).c_str()));
}

}  // namespace bunkmere::win32
