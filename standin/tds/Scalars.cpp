#include "standin/tds/Scalars.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace standin::tds {

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

std::int64_t DaysOf1900() {
  static const std::int64_t days = DaysFromCivil(1900, 1, 1);
  return days;
}

std::int64_t DaysOf0001() {
  static const std::int64_t days = DaysFromCivil(1, 1, 1);
  return days;
}

bool ParseDateTime(std::string_view s, DateTimeParts& out) {
  CivilTime c;
  if (!ParseCivil(s, c)) return false;
  std::int64_t days = DaysFromCivil(c.y, c.mo, c.d) - DaysOf1900();
  // DATETIME keeps 1/300 s; milliseconds round to the nearest tick, carrying into the next day.
  std::uint64_t ticks = (std::uint64_t{c.h} * 3600 + c.mi * 60 + c.se) * 300 +
                        static_cast<std::uint64_t>(std::llround(c.ms * 0.3));
  if (ticks >= 300ull * 86400) {
    ticks -= 300ull * 86400;
    ++days;
  }
  out.days = static_cast<std::int32_t>(days);
  out.ticks = static_cast<std::uint32_t>(ticks);
  return true;
}

bool ParseCivil(std::string_view s, CivilTime& c) {
  auto num = [&](std::size_t at, std::size_t n, unsigned& v) {
    if (at + n > s.size()) return false;
    v = 0;
    for (std::size_t k = at; k < at + n; ++k) {
      if (s[k] < '0' || s[k] > '9') return false;
      v = v * 10 + static_cast<unsigned>(s[k] - '0');
    }
    return true;
  };
  unsigned y, mo, d, h = 0, mi = 0, se = 0, frac = 0;
  if (!num(0, 4, y) || s.size() < 10 || s[4] != '-' || !num(5, 2, mo) || s[7] != '-' ||
      !num(8, 2, d))
    return false;
  if (s.size() > 10) {
    if ((s[10] != ' ' && s[10] != 'T') || !num(11, 2, h) || s.size() < 19 || s[13] != ':' ||
        !num(14, 2, mi) || s[16] != ':' || !num(17, 2, se))
      return false;
    if (s.size() > 19) {
      if (s[19] != '.' || s.size() == 20 || s.size() > 27) return false;
      unsigned digits;
      if (!num(20, s.size() - 20, digits)) return false;
      // Milliseconds, rounded from whatever precision came.
      std::string_view f = s.substr(20);
      double scaled = digits;
      for (std::size_t k = f.size(); k < 3; ++k) scaled *= 10;
      for (std::size_t k = 3; k < f.size(); ++k) scaled /= 10;
      frac = static_cast<unsigned>(std::lround(scaled));
    }
  }
  static constexpr unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > kMonthDays[mo - 1] || h > 23 || mi > 59 || se > 59)
    return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mo == 2 && d == 29 && !leap) return false;
  c = {y, mo, d, h, mi, se, frac};
  return true;
}

std::string FormatDateTime(DateTimeParts p) {
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(p.days + DaysOf1900(), y, m, d);
  std::uint64_t ms = static_cast<std::uint64_t>(std::llround(p.ticks * 10.0 / 3.0));
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02u:%02u:%02u.%03u", static_cast<long long>(y),
                m, d, static_cast<unsigned>(ms / 3600000), static_cast<unsigned>(ms / 60000 % 60),
                static_cast<unsigned>(ms / 1000 % 60), static_cast<unsigned>(ms % 1000));
  return buf;
}

bool ParseDecimal(std::string_view s, int scale, bool& negative, unsigned __int128& mag) {
  negative = false;
  mag = 0;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  int fracDigits = -1, digits = 0;
  bool any = false, roundUp = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c == '.' && fracDigits < 0) {
      fracDigits = 0;
      continue;
    }
    if (c < '0' || c > '9') return false;
    any = true;
    if (fracDigits >= 0) {
      if (fracDigits >= scale) {  // the first digit past the scale decides the rounding
        if (fracDigits == scale && c >= '5') roundUp = true;
        ++fracDigits;
        continue;
      }
      ++fracDigits;
    }
    if (mag != 0 && ++digits > 38) return false;
    mag = mag * 10 + static_cast<unsigned>(c - '0');
  }
  if (!any) return false;
  for (int k = fracDigits < 0 ? 0 : std::min(fracDigits, scale); k < scale; ++k) mag *= 10;
  if (roundUp) ++mag;
  if (mag == 0) negative = false;
  return true;
}

std::string FormatDecimal(bool negative, unsigned __int128 mag, int scale) {
  std::string digits;  // least significant first
  do {
    digits.push_back(static_cast<char>('0' + static_cast<int>(mag % 10)));
    mag /= 10;
  } while (mag != 0);
  const auto places = static_cast<std::size_t>(scale > 0 ? scale : 0);
  while (digits.size() <= places) digits.push_back('0');
  std::string out;
  if (negative) out.push_back('-');
  for (std::size_t k = digits.size(); k-- > 0;) {
    out.push_back(digits[k]);
    if (k == places && places > 0) out.push_back('.');
  }
  return out;
}

std::uint8_t DecimalBytes(int precision) {
  return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

}  // namespace standin::tds
