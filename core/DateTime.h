#pragma once
// Date-time values as the system's platform keeps them: a double counting days since
// 1899-12-30, the fraction being the time of day. For dates before that day the integral part
// is negative and the fraction still counts forward from midnight (-1.25 is 1899-12-29 06:00).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace bunkmere {

using TDateTime = double;

struct TDecodedDateTime {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
  bool operator==(const TDecodedDateTime&) const = default;
};

// Regional formats. Pattern letters: d dd (day), ddd dddd (day names), ddddd (short date),
// m mm (month, or minute right after an hour), mmm mmmm (month names), yy yyyy, h hh, n nn,
// s ss, z zzz, t (short time), tt (long time), c (short date and long time), am/pm, a/p, ampm
// (the AM/PM strings); with one of the last three present hours run 1 to 12. "/" and ":"
// stand for the date and time separators; text in single or double quotes is copied as is.
struct TFormatSettings {
  std::string ShortDateFormat = "m/d/yyyy";
  std::string LongDateFormat = "dddd, mmmm d, yyyy";
  std::string ShortTimeFormat = "h:nn AMPM";
  std::string LongTimeFormat = "h:nn:ss AMPM";
  std::string DateSeparator = "/";
  std::string TimeSeparator = ":";
  std::string DecimalSeparator = ".";  // between the whole and the fraction of a number
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
  std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
};

bool IsLeapYear(int AYear) noexcept;
int DaysInMonth(int AYear, int AMonth) noexcept;

// Years 1 to 9999; fail with EConvertError "Invalid argument to date encode" or
// "Invalid argument to time encode" (hours 0-23, minutes and seconds 0-59, ms 0-999).
TDateTime EncodeDate(int AYear, int AMonth, int ADay);
TDateTime EncodeTime(int AHour, int AMinute, int ASecond, int AMilliSecond);
TDateTime EncodeDateTime(const TDecodedDateTime& AValue);
bool TryEncodeDateTime(const TDecodedDateTime& AValue, TDateTime& AResult) noexcept;
// Milliseconds are rounded to the nearest; values outside years 1 to 9999 (or not finite)
// decode as 1899-12-30 00:00.
TDecodedDateTime DecodeDateTime(TDateTime AValue) noexcept;

std::string FormatDateTime(std::string_view AFormat, TDateTime AValue,
                           const TFormatSettings& ASettings);
// The short date, then, unless the time is exactly midnight, a blank and the long time.
std::string DateTimeToStr(TDateTime AValue, const TFormatSettings& ASettings);
// "yyyy-mm-ddThh:nn:ss": the one text form SQL Server reads the same under every language
// and date-format setting.
std::string DateTimeToIsoText(TDateTime AValue);

}  // namespace bunkmere
