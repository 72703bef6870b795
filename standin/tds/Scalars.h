#pragma once
// The text forms in which dates and decimals cross the engine contract, and their wire forms:
// DATETIME as days since 1900-01-01 plus 1/300 s ticks, DATE/DATETIME2 as days since
// 0001-01-01, DECIMAL as a sign and a 128-bit magnitude scaled by 10^scale.

#include <cstdint>
#include <string>
#include <string_view>

namespace standin::tds {

// Proleptic Gregorian calendar: days since 1970-01-01 and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d);
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d);
std::int64_t DaysOf1900();  // DaysFromCivil(1900, 1, 1)
std::int64_t DaysOf0001();  // DaysFromCivil(1, 1, 1)

struct CivilTime {
  unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0, ms = 0;
};
// Accepts "yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss[.f...]" (or 'T' for the blank); checks the ranges.
bool ParseCivil(std::string_view text, CivilTime& out);

// DATETIME's two integers: days since 1900-01-01 and 1/300 s ticks since midnight.
struct DateTimeParts {
  std::int32_t days = 0;
  std::uint32_t ticks = 0;
};
// Milliseconds round to the nearest tick, carrying into the next day as SQL Server does.
bool ParseDateTime(std::string_view text, DateTimeParts& out);
std::string FormatDateTime(DateTimeParts parts);  // "yyyy-mm-dd hh:mm:ss.fff"

// Decimals as text <-> sign and magnitude scaled by `scale`; digits past the scale round half up.
bool ParseDecimal(std::string_view text, int scale, bool& negative, unsigned __int128& magnitude);
std::string FormatDecimal(bool negative, unsigned __int128 magnitude, int scale);
std::uint8_t DecimalBytes(int precision);

}  // namespace standin::tds
