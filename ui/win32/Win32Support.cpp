#include "ui/win32/Win32Support.h"

namespace bunkmere::win32 {
namespace {

// "MS Sans Serif" is a bitmap face drawn at a few pixel heights only (those of 8, 10, 12, 14,
// 18 and 24 points at 96 pixels per inch); at any other height, as on a screen of higher
// density, its TrueType counterpart draws it sharp. At the stored heights it stays itself.
// It also draws only the characters of the ANSI code page, "?" for the rest: text that needs
// others (a name in another script) is drawn by the TrueType face at every height.
std::wstring FaceFor(const TFontData& AFont, bool AOtherCharacters) {
  static constexpr int kBitmapHeights[] = {11, 13, 16, 19, 24, 32};
  std::wstring face = Wide(AFont.Name);
  if (CompareStringOrdinal(face.c_str(), -1, L"MS Sans Serif", -1, TRUE) != CSTR_EQUAL) return face;
  if (AOtherCharacters) return L"Microsoft Sans Serif";
  const int height = AFont.Height < 0 ? -AFont.Height : AFont.Height;
  for (int h : kBitmapHeights)
    if (h == height) return face;
  return L"Microsoft Sans Serif";
}

}  // namespace

bool OutsideAnsiCodePage(std::wstring_view AText) {
  if (AText.empty()) return false;
  BOOL replaced = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, AText.data(), static_cast<int>(AText.size()),
                      nullptr, 0, nullptr, &replaced);
  return replaced != FALSE;
}

TFontHandle MakeFont(const TFontData& AFont, bool AOtherCharacters) {
  // The stored height is in pixels: the character height when negative, the cell height when
  // positive, exactly as the system reads a font height.
  return TFontHandle(CreateFontW(
      AFont.Height, 0, 0, 0, AFont.Style.Contains(TFontStyle::fsBold) ? FW_BOLD : FW_NORMAL,
      AFont.Style.Contains(TFontStyle::fsItalic), AFont.Style.Contains(TFontStyle::fsUnderline),
      AFont.Style.Contains(TFontStyle::fsStrikeOut), static_cast<DWORD>(AFont.Charset),
      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
      FaceFor(AFont, AOtherCharacters).c_str()));
}

}  // namespace bunkmere::win32
