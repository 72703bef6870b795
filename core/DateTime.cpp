#include "core/DateTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/Exceptions.h"
#include "core/StrUtils.h"

namespace bunkmere {

namespace {

constexpr double kMsPerDay = 86400000.0;
constexpr int kFirstDay = -693593;  // 0001-01-01
constexpr int kLastDay = 2958465;   // 9999-12-31

// Days from 1899-12-30 in the proleptic Gregorian calendar (H. Hinnant's algorithm, shifted).
int DaysFromCivil(int y, int m, int d) noexcept {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;
}

void CivilFromDays(int z, int& y, int& m, int& d) noexcept {
  z += 719468 - 25569;
  const int era = (z >= 0 ? z : z - 146096) / 146097;
  const int doe = z - era * 146097;
  const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y = yoe + era * 400 + (m <= 2);
}

bool ValidDate(int AYear, int AMonth, int ADay) noexcept {
  return AYear >= 1 && AYear <= 9999 && AMonth >= 1 && AMonth <= 12 && ADay >= 1 &&
         ADay <= DaysInMonth(AYear, AMonth);
}

bool ValidTime(int h, int n, int s, int ms) noexcept {
  return h >= 0 && h < 24 && n >= 0 && n < 60 && s >= 0 && s < 60 && ms >= 0 && ms < 1000;
}

}  // namespace

bool IsLeapYear(int AYear) noexcept {
  return AYear % 4 == 0 && (AYear % 100 != 0 || AYear % 400 == 0);
}

int DaysInMonth(int AYear, int AMonth) noexcept {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (AMonth < 1 || AMonth > 12) return 0;
  return kDays[AMonth - 1] + (AMonth == 2 && IsLeapYear(AYear) ? 1 : 0);
}

TDateTime EncodeDate(int AYear, int AMonth, int ADay) {
  if (!ValidDate(AYear, AMonth, ADay)) throw EConvertError("Invalid argument to date encode");
  return DaysFromCivil(AYear, AMonth, ADay);
}

TDateTime EncodeTime(int AHour, int AMinute, int ASecond, int AMilliSecond) {
  if (!ValidTime(AHour, AMinute, ASecond, AMilliSecond))
    throw EConvertError("Invalid argument to time encode");
  return (((AHour * 60.0 + AMinute) * 60.0 + ASecond) * 1000.0 + AMilliSecond) / kMsPerDay;
}

bool TryEncodeDateTime(const TDecodedDateTime& AValue, TDateTime& AResult) noexcept {
  if (!ValidDate(AValue.Year, AValue.Month, AValue.Day) ||
      !ValidTime(AValue.Hour, AValue.Minute, AValue.Second, AValue.MilliSecond))
    return false;
  const double date = DaysFromCivil(AValue.Year, AValue.Month, AValue.Day);
  const double time = EncodeTime(AValue.Hour, AValue.Minute, AValue.Second, AValue.MilliSecond);
  // Before the epoch the time of day still counts forward, so it moves away from zero.
  AResult = date < 0 ? date - time : date + time;
  return true;
}

TDateTime EncodeDateTime(const TDecodedDateTime& AValue) {
  TDateTime result = 0;
  if (!TryEncodeDateTime(AValue, result)) {
    EncodeDate(AValue.Year, AValue.Month, AValue.Day);  // raises the date error first
    throw EConvertError("Invalid argument to time encode");
  }
  return result;
}

TDecodedDateTime DecodeDateTime(TDateTime AValue) noexcept {
  TDecodedDateTime r;
  if (!std::isfinite(AValue) || AValue < kFirstDay - 1.0 || AValue > kLastDay + 1.0) return r;
  int day = static_cast<int>(std::trunc(AValue));
  auto ms = static_cast<long long>(std::llround(std::fabs(AValue - day) * kMsPerDay));
  if (ms >= static_cast<long long>(kMsPerDay)) {  // rounded up to the next midnight
    ms = 0;
    ++day;
  }
  if (day < kFirstDay || day > kLastDay) return r;
  CivilFromDays(day, r.Year, r.Month, r.Day);
  r.MilliSecond = static_cast<int>(ms % 1000);
  r.Second = static_cast<int>(ms / 1000 % 60);
  r.Minute = static_cast<int>(ms / 60000 % 60);
  r.Hour = static_cast<int>(ms / 3600000);
  return r;
}

namespace {

// 0 = Sunday.
int DayOfWeek(const TDecodedDateTime& d) noexcept {
  const int days = DaysFromCivil(d.Year, d.Month, d.Day);  // 1899-12-30 was a Saturday
  return ((days + 6) % 7 + 7) % 7;
}

void AppendNumber(std::string& AOut, int AValue, int AWidth) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", AWidth, AValue);
  AOut += buf;
}

bool IsMidnight(const TDecodedDateTime& d) noexcept {
  return d.Hour == 0 && d.Minute == 0 && d.Second == 0 && d.MilliSecond == 0;
}

class TDateTimeFormatter {
 public:
  // AFormatSize: the length of the format to be formatted. The work allowed grows with the
  // text the caller and the settings supply, so a short hostile setting costs little, and is
  // capped for a long one.
  TDateTimeFormatter(const TDecodedDateTime& AValue, const TFormatSettings& ASettings,
                     std::size_t AFormatSize)
      : FValue(AValue),
        FSettings(ASettings),
        FBudget(std::min<std::size_t>(
            16 * 1024,
            256 + 4 * (AFormatSize + ASettings.ShortDateFormat.size() +
                       ASettings.LongDateFormat.size() + ASettings.ShortTimeFormat.size() +
                       ASettings.LongTimeFormat.size()))) {}

  void Format(std::string_view AFormat, std::string& AOut, int ADepth) {
    // Settings are outside input: a format that names itself ("c" inside ShortDateFormat)
    // must not recurse without end.
    if (ADepth > 2) return;
    // Nested formats multiply: a hostile format naming itself many times must neither grow
    // the text nor the work without bound, also where it writes nothing (a "c" at midnight).
    // Every format read is paid for from one budget. No real date-time text comes near these.
    constexpr std::size_t kMaxText = 4 * 1024;
    if (FBudget == 0) return;
    --FBudget;
    AFormat = AFormat.substr(0, std::min(AFormat.size(), FBudget));
    FBudget -= AFormat.size();
    const std::size_t amPmAt = LastAmPmMarker(AFormat);
    char lastToken = 0;
    std::size_t i = 0;
    while (i < AFormat.size() && AOut.size() < kMaxText) {
      const char c = AFormat[i];
      const char token = AsciiUpper(c);
      std::size_t count = 1;
      // "C" and the am/pm markers take a fixed length: counting their run would read it
      // again at each of its letters.
      while (token != 'C' && token != 'A' && IsAsciiLetter(c) && i + count < AFormat.size() &&
             AsciiUpper(AFormat[i + count]) == token)
        ++count;
      const std::string_view rest = AFormat.substr(i);
      switch (token) {
        case 'Y':
          if (count <= 2)
            AppendNumber(AOut, FValue.Year % 100, 2);
          else
            AppendNumber(AOut, FValue.Year, 4);
          break;
        case 'M':
          if (lastToken == 'H' && count <= 2) {
            AppendNumber(AOut, FValue.Minute, static_cast<int>(count));
          } else if (count <= 2) {
            AppendNumber(AOut, FValue.Month, static_cast<int>(count));
          } else {
            AOut +=
                (count == 3 ? FSettings.ShortMonthNames
                            : FSettings.LongMonthNames)[static_cast<std::size_t>(FValue.Month - 1)];
          }
          break;
        case 'D':
          if (count <= 2) {
            AppendNumber(AOut, FValue.Day, static_cast<int>(count));
          } else if (count <= 4) {
            AOut +=
                (count == 3 ? FSettings.ShortDayNames
                            : FSettings.LongDayNames)[static_cast<std::size_t>(DayOfWeek(FValue))];
          } else {
            Format(count == 5 ? FSettings.ShortDateFormat : FSettings.LongDateFormat, AOut,
                   ADepth + 1);
          }
          break;
        case 'H': {
          int hour = FValue.Hour;
          if (amPmAt != std::string_view::npos && amPmAt >= i + count) {
            hour %= 12;
            if (hour == 0) hour = 12;
          }
          AppendNumber(AOut, hour, count == 1 ? 1 : 2);
          break;
        }
        case 'N':
          AppendNumber(AOut, FValue.Minute, count == 1 ? 1 : 2);
          break;
        case 'S':
          AppendNumber(AOut, FValue.Second, count == 1 ? 1 : 2);
          break;
        case 'Z':
          AppendNumber(AOut, FValue.MilliSecond, count == 1 ? 1 : 3);
          break;
        case 'T':
          Format(count == 1 ? FSettings.ShortTimeFormat : FSettings.LongTimeFormat, AOut,
                 ADepth + 1);
          break;
        case 'C':
          Format(FSettings.ShortDateFormat, AOut, ADepth + 1);
          if (!IsMidnight(FValue)) {
            AOut += ' ';
            Format(FSettings.LongTimeFormat, AOut, ADepth + 1);
          }
          break;
        case 'A': {
          const bool pm = FValue.Hour >= 12;
          if (StartsText("am/pm", rest)) {
            AOut += rest.substr(pm ? 3 : 0, 2);
            count = 5;
          } else if (StartsText("a/p", rest)) {
            AOut += rest.substr(pm ? 2 : 0, 1);
            count = 3;
          } else if (StartsText("ampm", rest)) {
            AOut += pm ? FSettings.TimePMString : FSettings.TimeAMString;
            count = 4;
          } else {
            AOut += c;
            count = 1;
          }
          break;
        }
        case '/':
          AOut += FSettings.DateSeparator;
          break;
        case ':':
          AOut += FSettings.TimeSeparator;
          break;
        case '\'':
        case '"': {
          const std::size_t close = AFormat.find(c, i + 1);
          const std::size_t end = close == std::string_view::npos ? AFormat.size() : close;
          AOut += AFormat.substr(i + 1, std::min(end - i - 1, kMaxText - AOut.size()));
          count = end - i + (close == std::string_view::npos ? 0 : 1);
          break;
        }
        default:
          AOut.append(AFormat.substr(i, std::min(count, kMaxText - AOut.size())));
          break;
      }
      if (IsAsciiLetter(c)) lastToken = token;
      i += count;
    }
  }

 private:
  // Where the last am/pm marker outside quoted text starts, npos without one. Quoted text is
  // skipped as Format skips it, so from any token an hour sees a marker after it exactly when
  // the last one lies after it: one pass serves every hour of the format.
  static std::size_t LastAmPmMarker(std::string_view AFormat) noexcept {
    std::size_t last = std::string_view::npos;
    for (std::size_t i = 0; i < AFormat.size(); ++i) {
      const char c = AFormat[i];
      if (c == '\'' || c == '"') {
        const std::size_t close = AFormat.find(c, i + 1);
        if (close == std::string_view::npos) break;
        i = close;
      } else if (c == 'a' || c == 'A') {
        const std::string_view rest = AFormat.substr(i);
        if (StartsText("am/pm", rest) || StartsText("a/p", rest) || StartsText("ampm", rest))
          last = i;
      }
    }
    return last;
  }

  const TDecodedDateTime& FValue;
  const TFormatSettings& FSettings;
  std::size_t FBudget;  // format characters still to be read, nesting included
};

}  // namespace

std::string FormatDateTime(std::string_view AFormat, TDateTime AValue,
                           const TFormatSettings& ASettings) {
  const TDecodedDateTime decoded = DecodeDateTime(AValue);
  std::string out;
  TDateTimeFormatter(decoded, ASettings, AFormat.size()).Format(AFormat, out, 0);
  return out;
}

std::string DateTimeToStr(TDateTime AValue, const TFormatSettings& ASettings) {
  return FormatDateTime("c", AValue, ASettings);
}

std::string DateTimeToIsoText(TDateTime AValue) {
  const TDecodedDateTime d = DecodeDateTime(AValue);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", d.Year, d.Month, d.Day, d.Hour,
                d.Minute, d.Second);
  return buf;
}

}  // namespace bunkmere
