#pragma once
// Both systems' regional formats are turned into the date-time patterns of core/DateTime.h;
// the fixed text between their fields goes into the pattern quoted, so that none of it is
// read as a field.

#include <string>
#include <string_view>

namespace bunkmere {

// Appends AText to AOut as a quoted literal of a date-time pattern; nothing when it is empty.
inline void AppendPatternLiteral(std::string& AOut, std::string_view AText) {
  if (AText.empty()) return;
  // A text holding a double quote is quoted with single quotes (patterns accept either).
  const char quote = AText.find('"') == std::string_view::npos ? '"' : '\'';
  AOut += quote;
  AOut += AText;
  AOut += quote;
}

}  // namespace bunkmere
