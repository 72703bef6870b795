// DATETIME text as SQL Server reads it under us_english.

#include <gtest/gtest.h>

#include <string>

#include "standin/engine/DateTimeText.h"

namespace standin {
namespace {

struct DateCase {
  const char* text;
  DateOrder order;
  const char* expected;  // stored form, or nullptr when the text is refused
  DateResult result;
};

std::string Parse(const char* text, DateOrder order, DateResult& result) {
  char out[kDateTimeTextSize];
  result = ParseDateTime(text, order, out);
  return result == DateResult::Ok ? std::string(out, kDateTimeTextSize) : std::string();
}

TEST(DateTimeText, ReadsTheFormsSqlServerReads) {
  using O = DateOrder;
  const DateCase cases[] = {
      {"2024-03-01T10:20:30", O::MDY, "2024-03-01 10:20:30.000", DateResult::Ok},
      {"2024-03-01T10:20:30.5", O::MDY, "2024-03-01 10:20:30.500", DateResult::Ok},
      {"20240301", O::MDY, "2024-03-01 00:00:00.000", DateResult::Ok},
      {"20240301 10:20", O::MDY, "2024-03-01 10:20:00.000", DateResult::Ok},
      {"2024-03-01 10:20:30", O::MDY, "2024-03-01 10:20:30.000", DateResult::Ok},
      {"2024-03-01", O::DMY, "2024-01-03 00:00:00.000", DateResult::Ok},  // ydm under dmy
      {"03/01/2024", O::MDY, "2024-03-01 00:00:00.000", DateResult::Ok},
      {"03/01/2024", O::DMY, "2024-01-03 00:00:00.000", DateResult::Ok},
      {"3/1/24 4:05 PM", O::MDY, "2024-03-01 16:05:00.000", DateResult::Ok},
      {"12/10/2026 12:30:00 AM", O::MDY, "2026-12-10 00:30:00.000", DateResult::Ok},
      {"12/10/2026 12:30:00 PM", O::MDY, "2026-12-10 12:30:00.000", DateResult::Ok},
      {"1.2.2020", O::MDY, "2020-01-02 00:00:00.000", DateResult::Ok},
      {"Mar 1 2024 10:20AM", O::MDY, "2024-03-01 10:20:00.000", DateResult::Ok},
      {"1 March 2024", O::MDY, "2024-03-01 00:00:00.000", DateResult::Ok},
      {"10:20:30", O::MDY, "1900-01-01 10:20:30.000", DateResult::Ok},
      {"", O::MDY, "1900-01-01 00:00:00.000", DateResult::Ok},
      {"   ", O::MDY, "1900-01-01 00:00:00.000", DateResult::Ok},
      {"2/29/2024", O::MDY, "2024-02-29 00:00:00.000", DateResult::Ok},
      {"99/01/01", O::MDY, nullptr, DateResult::Invalid},
      // 1/300 second: .001 rounds to .000, .002 to .003, .005 to .007, .999 carries over.
      {"2024-03-01T10:20:30.001", O::MDY, "2024-03-01 10:20:30.000", DateResult::Ok},
      {"2024-03-01T10:20:30.002", O::MDY, "2024-03-01 10:20:30.003", DateResult::Ok},
      {"2024-03-01T10:20:30.005", O::MDY, "2024-03-01 10:20:30.007", DateResult::Ok},
      {"2024-12-31T23:59:59.999", O::MDY, "2025-01-01 00:00:00.000", DateResult::Ok},
      {"2/29/2023", O::MDY, nullptr, DateResult::Invalid},
      {"13/01/2024", O::MDY, nullptr, DateResult::Invalid},
      {"2024-03-01 25:00", O::MDY, nullptr, DateResult::Invalid},
      {"2024-03-01 10:61", O::MDY, nullptr, DateResult::Invalid},
      {"13:00 PM", O::MDY, nullptr, DateResult::Invalid},
      {"2024-03-01 junk", O::MDY, nullptr, DateResult::Invalid},
      {"tomorrow", O::MDY, nullptr, DateResult::Invalid},
      {"1/1/1752", O::MDY, nullptr, DateResult::OutOfRange},
      {"9999-12-31T23:59:59.998", O::MDY, "9999-12-31 23:59:59.997", DateResult::Ok},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    DateResult r;
    std::string got = Parse(c.text, c.order, r);
    EXPECT_EQ(r, c.result);
    if (c.expected) {
      EXPECT_EQ(got, c.expected);
    }
  }
}

TEST(DateTimeText, NumbersAreDaysSince1900) {
  char out[kDateTimeTextSize];
  ASSERT_EQ(DateTimeFromDays(1.5, out), DateResult::Ok);
  EXPECT_EQ(std::string(out, kDateTimeTextSize), "1900-01-02 12:00:00.000");
  EXPECT_EQ(DateTimeFromDays(1e9, out), DateResult::OutOfRange);
}

}  // namespace
}  // namespace standin
