#pragma once
// Text values of stored descriptions: how a quoted value is written, and which kind of text
// value (short, long or wide) a text is.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/ValueType.h"

namespace bunkmere {

// vaString for at most 255 characters that are all single-byte (below U+0100), vaLString for
// more of them, vaWString when any character is not single-byte. AText is valid UTF-8.
TValueType ClassifyText(std::string_view AText) noexcept;

// The description form of AText: printable ASCII in single quotes (a quote doubled), every
// other character as #nnn with its UTF-16 code unit(s) in decimal; '' for the empty text.
// Bytes that are not valid UTF-8 are written as the code of each byte.
std::string QuoteDescriptionString(std::string_view AText);

// Decodes one UTF-8 character at AText[APos]; returns its length (0 when the bytes there are
// not a valid, shortest-form character) and stores the code point.
std::size_t DecodeUtf8(std::string_view AText, std::size_t APos, char32_t& ACode) noexcept;
void AppendUtf8(std::string& AOut, char32_t ACode);

}  // namespace bunkmere
