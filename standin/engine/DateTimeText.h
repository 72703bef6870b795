#pragma once
// DATETIME as SQL Server converts it from text under us_english, and its stored form
// "yyyy-mm-dd hh:mm:ss.fff", rounded to SQL Server's 1/300 second.

#include <string_view>

namespace standin {

enum class DateOrder { MDY, DMY, YMD, YDM, MYD, DYM };

enum class DateResult { Ok, Invalid, OutOfRange };

inline constexpr int kDateTimeTextSize = 23;  // "yyyy-mm-dd hh:mm:ss.fff"

// Parses the forms SQL Server reads: ISO 8601 ("2024-03-01T10:20:30.123"), unseparated
// ("20240301 10:20"), numeric with "/", "-" or "." in the session's date order, month names
// ("Mar 1 2024 10:20AM"), a time alone (on 1900-01-01) and an empty text (1900-01-01).
// On Ok writes kDateTimeTextSize characters to `out` (not terminated).
DateResult ParseDateTime(std::string_view text, DateOrder order, char* out);

// A number is days since 1900-01-01, the fraction being the time of day.
DateResult DateTimeFromDays(double days, char* out);

// The local clock now, in the stored form.
void NowAsDateTime(char* out);

// "mdy", "dmy" ...: false for an unknown order.
bool ParseDateOrder(std::string_view text, DateOrder& order);

}  // namespace standin
