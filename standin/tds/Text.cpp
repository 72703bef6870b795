#include "standin/tds/Text.h"

namespace standin::tds {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252's 0x80..0x9F; 0 marks the five unassigned bytes, read as the C1 control.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Reads one code point from UTF-8; invalid sequences yield U+FFFD and consume one byte.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = b0 >= 0xF0 ? (b0 <= 0xF4 ? 3 : -1) : b0 >= 0xE0 ? 2 : b0 >= 0xC2 ? 1 : -1;
  if (extra < 0 || i + static_cast<std::size_t>(extra) >= s.size()) {
    ++i;
    return kReplacement;
  }
  char32_t cp = b0 & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = cp << 6 | (b & 0x3F);
  }
  bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

unsigned char ToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (int k = 0; k < 32; ++k)
    if (kCp1252High[k] != 0 && kCp1252High[k] == cp) return static_cast<unsigned char>(0x80 + k);
  if (cp >= 0x80 && cp <= 0x9F && kCp1252High[cp - 0x80] == 0)
    return static_cast<unsigned char>(cp);
  return '?';
}

}  // namespace

std::string Utf16ToUtf8(std::span<const std::uint8_t> b) {
  if (b.size() % 2 != 0) throw DecodeError("UTF-16 text with an odd number of bytes");
  std::string out;
  out.reserve(b.size() / 2);
  for (std::size_t i = 0; i < b.size(); i += 2) {
    char32_t u = static_cast<char32_t>(b[i] | b[i + 1] << 8);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 3 >= b.size()) throw DecodeError("UTF-16 text ends inside a surrogate pair");
      char32_t lo = static_cast<char32_t>(b[i + 2] | b[i + 3] << 8);
      if (lo < 0xDC00 || lo > 0xDFFF) throw DecodeError("UTF-16 text with an unpaired surrogate");
      u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
      i += 2;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      throw DecodeError("UTF-16 text with an unpaired surrogate");
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::size_t AppendUtf16(Bytes& out, std::string_view s) {
  std::size_t units = 0;
  auto put = [&](char32_t u) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
    ++units;
  };
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {  // the common case stays cheap
      put(b);
      ++i;
      continue;
    }
    char32_t cp = NextCodePoint(s, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return units;
}

std::size_t Utf16Length(std::string_view s) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < s.size();) units += NextCodePoint(s, i) >= 0x10000 ? 2 : 1;
  return units;
}

std::string Cp1252ToUtf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (auto b : bytes) {
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
    } else if (b < 0xA0 && kCp1252High[b - 0x80] != 0) {
      AppendUtf8(out, kCp1252High[b - 0x80]);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

void AppendCp1252(Bytes& out, std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
    } else {
      out.push_back(ToCp1252(NextCodePoint(s, i)));
    }
  }
}

std::size_t Cp1252Length(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++n) NextCodePoint(s, i);
  return n;
}

std::string ByteReader::Utf16(std::size_t units) {
  return Utf16ToUtf8(Take(units * 2));
}

std::size_t ByteWriter::Utf16(std::string_view utf8) {
  return AppendUtf16(out_, utf8);
}

void ByteWriter::BVarChar(std::string_view utf8) {
  auto at = out_.size();
  U8(0);
  Bytes tmp;
  std::size_t units = AppendUtf16(tmp, utf8);
  if (units > 0xFF) units = 0xFF;
  out_[at] = static_cast<std::uint8_t>(units);
  out_.insert(out_.end(), tmp.begin(), tmp.begin() + static_cast<std::ptrdiff_t>(units * 2));
}

void ByteWriter::UsVarChar(std::string_view utf8) {
  auto at = out_.size();
  U16(0);
  Bytes tmp;
  std::size_t units = AppendUtf16(tmp, utf8);
  if (units > 0xFFFF) units = 0xFFFF;
  PatchU16(at, static_cast<std::uint16_t>(units));
  out_.insert(out_.end(), tmp.begin(), tmp.begin() + static_cast<std::ptrdiff_t>(units * 2));
}

}  // namespace standin::tds
