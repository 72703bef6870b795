#include "platform/WindowsFormats.h"

#include "platform/PatternLiteral.h"

namespace bunkmere {

namespace {

// The pattern of a run of ACount picture letters AField; null for letters without one.
const char* FieldPattern(char AField, std::size_t ACount) {
  switch (AField) {
    case 'd':
      return ACount == 1 ? "d" : ACount == 2 ? "dd" : ACount == 3 ? "ddd" : "dddd";
    case 'M':
      return ACount == 1 ? "m" : ACount == 2 ? "mm" : ACount == 3 ? "mmm" : "mmmm";
    case 'y':
      return ACount <= 2 ? "yy" : "yyyy";
    case 'h':
    case 'H':
      // Without an AM/PM field the pattern's hours run 0 to 23, as "H" asks.
      return ACount == 1 ? "h" : "hh";
    case 'm':
      return ACount == 1 ? "n" : "nn";
    case 's':
      return ACount == 1 ? "s" : "ss";
    case 't':
      return "ampm";
    default:
      return nullptr;
  }
}

bool IsPictureLetter(char c) {
  return c == 'd' || c == 'M' || c == 'y' || c == 'g' || c == 'h' || c == 'H' || c == 'm' ||
         c == 's' || c == 't';
}

}  // namespace

std::string WindowsPictureToPattern(std::string_view APicture, char ASeparatorToken,
                                    std::string& ASeparator) {
  std::string out, literal;
  bool lastNumeric = false, separatorSet = false;
  // Only text between two numbers separates them: "tt hh:mm" separates with ":", not " ".
  const auto flushLiteral = [&](bool ANextNumeric) {
    if (literal.empty()) return;
    const bool between = ASeparatorToken != '\0' && lastNumeric && ANextNumeric;
    if (between && !separatorSet) {
      ASeparator = literal;
      separatorSet = true;
    }
    if (between && literal == ASeparator)
      out += ASeparatorToken;
    else
      AppendPatternLiteral(out, literal);
    literal.clear();
  };
  for (std::size_t i = 0; i < APicture.size();) {
    const char c = APicture[i];
    if (c == '\'') {
      // Quoted text; two quotes in a row stand for one.
      for (++i; i < APicture.size(); ++i) {
        if (APicture[i] != '\'') {
          literal += APicture[i];
        } else if (i + 1 < APicture.size() && APicture[i + 1] == '\'') {
          literal += '\'';
          ++i;
        } else {
          ++i;
          break;
        }
      }
      continue;
    }
    if (!IsPictureLetter(c)) {
      literal += c;
      ++i;
      continue;
    }
    std::size_t count = 0;
    while (i < APicture.size() && APicture[i] == c) ++i, ++count;
    const char* pattern = FieldPattern(c, count);
    if (pattern == nullptr) {
      // An era: the blanks around it separated it, not the fields around it.
      while (!literal.empty() && literal.back() == ' ') literal.pop_back();
      while (i < APicture.size() && APicture[i] == ' ') ++i;
      continue;
    }
    // Day and month names are words, not numbers.
    const bool numeric = c != 't' && !((c == 'd' || c == 'M') && count >= 3);
    flushLiteral(numeric);
    out += pattern;
    lastNumeric = numeric;
  }
  flushLiteral(false);
  return out;
}

}  // namespace bunkmere
