#pragma once
// Regional formats of a POSIX locale turned into the system's date-time patterns.

#include <string>
#include <string_view>

namespace bunkmere {

struct TFormatSettings;

// A strftime format ("%d.%m.%Y", "%I:%M:%S %p") as a pattern of FormatDateTime. The first
// literal text between two fields becomes ASeparator and is written as ASeparatorToken ("/"
// for dates, ":" for times); other literal text is quoted. Fields without a counterpart are
// dropped.
std::string StrftimeToPattern(std::string_view AFormat, char ASeparatorToken,
                              std::string& ASeparator);

// The settings of the locale named ALocale for LC_TIME ("" = as the environment selects);
// the built-in defaults where the locale is not available.
TFormatSettings LocaleFormatSettings(const char* ALocale);

}  // namespace bunkmere
