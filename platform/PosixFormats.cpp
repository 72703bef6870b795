#include "platform/PosixFormats.h"

#include <langinfo.h>
#include <locale.h>

#include <memory>
#include <type_traits>

#include "core/DateTime.h"
#include "platform/PatternLiteral.h"

namespace bunkmere {

namespace {

// Composite fields written out as the fields they stand for.
std::string ExpandComposites(std::string_view AFormat, int ADepth = 0) {
  std::string r;
  for (std::size_t i = 0; i < AFormat.size(); ++i) {
    if (AFormat[i] != '%' || i + 1 >= AFormat.size()) {
      r += AFormat[i];
      continue;
    }
    const char f = AFormat[++i];
    const char* expansion = nullptr;
    switch (f) {
      case 'D':
        expansion = "%m/%d/%y";
        break;
      case 'F':
        expansion = "%Y-%m-%d";
        break;
      case 'T':
        expansion = "%H:%M:%S";
        break;
      case 'R':
        expansion = "%H:%M";
        break;
      case 'r':
        expansion = "%I:%M:%S %p";
        break;
      default:
        break;
    }
    if (expansion != nullptr && ADepth == 0) {
      r += ExpandComposites(expansion, 1);
    } else {
      r += '%';
      r += f;
    }
  }
  return r;
}

const char* FieldPattern(char AField) {
  switch (AField) {
    case 'd':
      return "dd";
    case 'e':
      return "d";
    case 'm':
      return "mm";
    case 'y':
      return "yy";
    case 'Y':
      return "yyyy";
    case 'H':
      return "hh";
    case 'k':
      return "h";
    case 'I':
      return "hh";
    case 'l':
      return "h";
    case 'M':
      return "nn";
    case 'S':
      return "ss";
    case 'p':
    case 'P':
      return "ampm";
    case 'a':
      return "ddd";
    case 'A':
      return "dddd";
    case 'b':
    case 'h':
      return "mmm";
    case 'B':
      return "mmmm";
    default:
      return nullptr;
  }
}

}  // namespace

std::string StrftimeToPattern(std::string_view AFormat, char ASeparatorToken,
                              std::string& ASeparator) {
  const std::string format = ExpandComposites(AFormat);
  std::string out, literal;
  bool fieldSeen = false, separatorSet = false;
  const auto flushLiteral = [&](bool ABeforeField) {
    if (literal.empty()) return;
    if (fieldSeen && ABeforeField && !separatorSet) {
      ASeparator = literal;
      separatorSet = true;
    }
    if (separatorSet && literal == ASeparator && fieldSeen && ABeforeField)
      out += ASeparatorToken;
    else
      AppendPatternLiteral(out, literal);
    literal.clear();
  };
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 >= format.size()) {
      literal += format[i];
      continue;
    }
    char f = format[++i];
    // Of the flags and alternative-form modifiers only "no padding" has a pattern form.
    bool noPadding = false;
    while ((f == '-' || f == '_' || f == '0' || f == '^' || f == '#' || f == 'E' || f == 'O') &&
           i + 1 < format.size()) {
      noPadding = noPadding || f == '-';
      f = format[++i];
    }
    if (f == '%') {
      literal += '%';
      continue;
    }
    if (f == 'n' || f == 't') {
      literal += f == 'n' ? '\n' : '\t';
      continue;
    }
    const char* pattern = FieldPattern(f);
    if (pattern == nullptr) continue;
    flushLiteral(true);
    const std::string_view p = pattern;
    const bool padded = p == "dd" || p == "mm" || p == "hh";
    out += noPadding && padded ? p.substr(1) : p;
    fieldSeen = true;
  }
  flushLiteral(false);
  return out;
}

TFormatSettings LocaleFormatSettings(const char* ALocale) {
  TFormatSettings s;
  const std::unique_ptr<std::remove_pointer_t<locale_t>, decltype(&freelocale)> owned(
      newlocale(LC_TIME_MASK | LC_NUMERIC_MASK, ALocale, static_cast<locale_t>(nullptr)),
      &freelocale);
  if (!owned) return s;
  locale_t loc = owned.get();
  const auto item = [loc](nl_item AItem) -> std::string {
    const char* text = nl_langinfo_l(AItem, loc);
    return text != nullptr ? text : "";
  };

  std::string dateSeparator = s.DateSeparator, timeSeparator = s.TimeSeparator;
  const std::string dateFormat = item(D_FMT);
  if (!dateFormat.empty()) {
    s.ShortDateFormat = StrftimeToPattern(dateFormat, '/', dateSeparator);
    s.DateSeparator = dateSeparator;
  }
  std::string timeFormat = item(T_FMT);
  if (timeFormat.empty()) timeFormat = item(T_FMT_AMPM);
  if (!timeFormat.empty()) {
    s.LongTimeFormat = StrftimeToPattern(timeFormat, ':', timeSeparator);
    s.TimeSeparator = timeSeparator;
    s.ShortTimeFormat = s.LongTimeFormat;
    if (const std::size_t pos = s.ShortTimeFormat.find(":ss"); pos != std::string::npos)
      s.ShortTimeFormat.erase(pos, 3);
  }
  if (auto radix = item(RADIXCHAR); !radix.empty()) s.DecimalSeparator = radix;
  s.TimeAMString = item(AM_STR);
  s.TimePMString = item(PM_STR);
  for (int k = 0; k < 12; ++k) {
    const auto m = static_cast<std::size_t>(k);
    if (auto name = item(MON_1 + k); !name.empty()) s.LongMonthNames[m] = name;
    if (auto name = item(ABMON_1 + k); !name.empty()) s.ShortMonthNames[m] = name;
  }
  for (int k = 0; k < 7; ++k) {
    const auto d = static_cast<std::size_t>(k);
    if (auto name = item(DAY_1 + k); !name.empty()) s.LongDayNames[d] = name;
    if (auto name = item(ABDAY_1 + k); !name.empty()) s.ShortDayNames[d] = name;
  }
  return s;
}

}  // namespace bunkmere
