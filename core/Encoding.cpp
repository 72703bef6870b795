#include "core/Encoding.h"

#include <array>
#include <cstdint>

namespace bunkmere {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character at S[i] and advances i past it. A malformed sequence yields
// kReplacement and advances past its maximal valid prefix (at least one byte), so decoding
// restarts at the first byte that cannot continue it.
char32_t NextCodePoint(std::string_view S, std::size_t& i) noexcept {
  const auto b0 = static_cast<unsigned char>(S[i++]);
  if (b0 < 0x80) return b0;
  int more;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the first continuation byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    more = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    more = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    more = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return kReplacement;
  }
  for (int k = 0; k < more; ++k) {
    if (i >= S.size()) return kReplacement;
    const auto b = static_cast<unsigned char>(S[i]);
    if (b < lo || b > hi) return kReplacement;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
    lo = 0x80;
    hi = 0xBF;
  }
  return cp;
}

void AppendUtf8(std::string& AOut, char32_t cp) {
  if (cp < 0x80) {
    AOut += static_cast<char>(cp);
  } else if (cp < 0x800) {
    AOut += static_cast<char>(0xC0 | (cp >> 6));
    AOut += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    AOut += static_cast<char>(0xE0 | (cp >> 12));
    AOut += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (cp >> 18));
    AOut += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes UTF-16 units delivered by AUnit(k) for k < ACount; unpaired surrogates become
// kReplacement.
template <class TUnitAt>
std::string Utf16UnitsToUtf8(std::size_t ACount, TUnitAt AUnit) {
  std::string r;
  r.reserve(ACount);
  for (std::size_t k = 0; k < ACount; ++k) {
    const char16_t u = AUnit(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < ACount) {
      const char16_t v = AUnit(k + 1);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        AppendUtf8(r, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(v) - 0xDC00));
        ++k;
        continue;
      }
    }
    AppendUtf8(r, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : char32_t(u));
  }
  return r;
}

// Windows-1252 bytes 0x80 to 0x9F; the undefined ones map to the C1 control of equal value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int CodePointToCp1252(char32_t cp) noexcept {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (std::size_t k = 0; k < kCp1252High.size(); ++k)
    if (kCp1252High[k] == cp) return static_cast<int>(0x80 + k);
  return -1;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view S) {
  std::u16string r;
  r.reserve(S.size());
  for (std::size_t i = 0; i < S.size();) {
    const char32_t cp = NextCodePoint(S, i);
    if (cp >= 0x10000) {
      r += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      r += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      r += static_cast<char16_t>(cp);
    }
  }
  return r;
}

std::string Utf16ToUtf8(std::u16string_view S) {
  return Utf16UnitsToUtf8(S.size(), [S](std::size_t k) { return S[k]; });
}

bool IsValidUtf8(std::string_view S) noexcept {
  for (std::size_t i = 0; i < S.size();) {
    const std::size_t start = i;
    if (NextCodePoint(S, i) == kReplacement) {
      // A literal U+FFFD is valid; a malformed sequence is not.
      if (S.substr(start, i - start) != "\xEF\xBF\xBD") return false;
    }
  }
  return true;
}

std::string SanitizeUtf8(std::string_view S) {
  if (IsValidUtf8(S)) return std::string(S);
  std::string r;
  r.reserve(S.size() + 8);
  for (std::size_t i = 0; i < S.size();) AppendUtf8(r, NextCodePoint(S, i));
  return r;
}

std::size_t Utf16Length(std::string_view S) noexcept {
  std::size_t n = 0;
  for (std::size_t i = 0; i < S.size();) n += NextCodePoint(S, i) >= 0x10000 ? 2 : 1;
  return n;
}

std::string Utf8Left(std::string_view S, std::size_t ACount) {
  std::size_t units = 0, i = 0;
  while (i < S.size()) {
    std::size_t next = i;
    const std::size_t width = NextCodePoint(S, next) >= 0x10000 ? 2 : 1;
    if (units + width > ACount) break;
    units += width;
    i = next;
  }
  return std::string(S.substr(0, i));
}

std::string Windows1252ToUtf8(std::string_view ABytes) {
  std::string r;
  r.reserve(ABytes.size() + ABytes.size() / 8);
  for (char c : ABytes) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(r, (b >= 0x80 && b < 0xA0) ? char32_t(kCp1252High[b - 0x80]) : char32_t(b));
  }
  return r;
}

bool HasByteOrderMark(std::string_view ABytes) noexcept {
  return ABytes.starts_with("\xEF\xBB\xBF") || ABytes.starts_with("\xFF\xFE") ||
         ABytes.starts_with("\xFE\xFF");
}

std::string DecodeText(std::string_view ABytes, unsigned AAnsiCodePage) {
  const auto starts = [ABytes](std::string_view ABom) {
    return ABytes.substr(0, ABom.size()) == ABom;
  };
  if (starts("\xEF\xBB\xBF")) return SanitizeUtf8(ABytes.substr(3));
  if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    const bool little = ABytes[0] == '\xFF';
    const std::string_view body = ABytes.substr(2);
    const std::size_t units = body.size() / 2;
    std::string r = Utf16UnitsToUtf8(units, [body, little](std::size_t k) {
      const auto a = static_cast<unsigned char>(body[2 * k]);
      const auto b = static_cast<unsigned char>(body[2 * k + 1]);
      return static_cast<char16_t>(little ? (a | (b << 8)) : ((a << 8) | b));
    });
    if (body.size() % 2 != 0) AppendUtf8(r, kReplacement);  // a lone trailing byte
    return r;
  }
  if (AAnsiCodePage == CP_UTF8 && IsValidUtf8(ABytes)) return std::string(ABytes);
  return Windows1252ToUtf8(ABytes);
}

std::string EncodeAnsi(std::string_view AText, unsigned AAnsiCodePage) {
  if (AAnsiCodePage == CP_UTF8) return SanitizeUtf8(AText);
  std::string r;
  r.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size();) {
    const int b = CodePointToCp1252(NextCodePoint(AText, i));
    r += b < 0 ? '?' : static_cast<char>(b);
  }
  return r;
}

}  // namespace bunkmere
