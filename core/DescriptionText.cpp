#include "core/DescriptionText.h"

namespace bunkmere {

std::size_t DecodeUtf8(std::string_view AText, std::size_t APos, char32_t& ACode) noexcept {
  const std::size_t n = AText.size();
  if (APos >= n) return 0;
  const auto b0 = static_cast<unsigned char>(AText[APos]);
  if (b0 < 0x80) {
    ACode = b0;
    return 1;
  }
  std::size_t len;
  char32_t code;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, code = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, code = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, code = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (n - APos < len) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(AText[APos + i]);
    if ((b & 0xC0) != 0x80) return 0;
    code = (code << 6) | (b & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  ACode = code;
  return len;
}

void AppendUtf8(std::string& AOut, char32_t c) {
  if (c < 0x80) {
    AOut += static_cast<char>(c);
  } else if (c < 0x800) {
    AOut += static_cast<char>(0xC0 | (c >> 6));
    AOut += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    AOut += static_cast<char>(0xE0 | (c >> 12));
    AOut += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (c >> 18));
    AOut += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (c & 0x3F));
  }
}

TValueType ClassifyText(std::string_view AText) noexcept {
  std::size_t count = 0;
  for (std::size_t i = 0; i < AText.size();) {
    char32_t c = 0;
    std::size_t len = DecodeUtf8(AText, i, c);
    if (len == 0) return TValueType::vaWString;
    if (c > 0xFF) return TValueType::vaWString;
    ++count;
    i += len;
  }
  return count <= 255 ? TValueType::vaString : TValueType::vaLString;
}

std::string QuoteDescriptionString(std::string_view AText) {
  std::string out;
  out.reserve(AText.size() + 2);
  bool quoted = false;
  auto code = [&](unsigned value) {
    if (quoted) out += '\'';
    quoted = false;
    out += '#';
    out += std::to_string(value);
  };
  for (std::size_t i = 0; i < AText.size();) {
    char32_t c = 0;
    std::size_t len = DecodeUtf8(AText, i, c);
    if (len == 0) {
      code(static_cast<unsigned char>(AText[i]));
      ++i;
      continue;
    }
    i += len;
    if (c >= 0x20 && c < 0x7F) {
      if (!quoted) out += '\'';
      quoted = true;
      if (c == '\'') out += '\'';
      out += static_cast<char>(c);
    } else if (c < 0x10000) {
      code(static_cast<unsigned>(c));
    } else {
      const char32_t v = c - 0x10000;
      code(static_cast<unsigned>(0xD800 + (v >> 10)));
      code(static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
    }
  }
  if (quoted) out += '\'';
  if (out.empty()) out = "''";
  return out;
}

}  // namespace bunkmere
