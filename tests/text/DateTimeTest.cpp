#include "core/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/Exceptions.h"

namespace bunkmere {
namespace {

TEST(DateTime, EncodeDateCountsDaysFromTheEpoch) {
  struct Case {
    int y, m, d;
    double serial;
  };
  const Case cases[] = {
      {1899, 12, 30, 0},     {1899, 12, 29, -1}, {2000, 1, 1, 36526},     {2024, 2, 29, 45351},
      {2026, 12, 10, 46366}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.serial) << c.y << "-" << c.m << "-" << c.d;
    const TDecodedDateTime d = DecodeDateTime(c.serial);
    EXPECT_EQ(d, (TDecodedDateTime{c.y, c.m, c.d, 0, 0, 0, 0})) << c.serial;
  }
}

TEST(DateTime, InvalidPartsFailToEncode) {
  struct Case {
    TDecodedDateTime value;
    const char* message;
  };
  const Case cases[] = {
      {{2023, 2, 29, 0, 0, 0, 0}, "Invalid argument to date encode"},
      {{1900, 2, 29, 0, 0, 0, 0}, "Invalid argument to date encode"},
      {{2024, 13, 1, 0, 0, 0, 0}, "Invalid argument to date encode"},
      {{0, 1, 1, 0, 0, 0, 0}, "Invalid argument to date encode"},
      {{10000, 1, 1, 0, 0, 0, 0}, "Invalid argument to date encode"},
      {{2024, 4, 31, 0, 0, 0, 0}, "Invalid argument to date encode"},
      {{2024, 1, 1, 24, 0, 0, 0}, "Invalid argument to time encode"},
      {{2024, 1, 1, 0, 60, 0, 0}, "Invalid argument to time encode"},
      {{2024, 1, 1, 0, 0, 0, 1000}, "Invalid argument to time encode"},
      {{2024, 1, 1, -1, 0, 0, 0}, "Invalid argument to time encode"},
  };
  for (const Case& c : cases) {
    TDateTime out = 7;
    EXPECT_FALSE(TryEncodeDateTime(c.value, out));
    EXPECT_EQ(out, 7);
    try {
      EncodeDateTime(c.value);
      ADD_FAILURE() << "no exception for " << c.message;
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(DateTime, TimeOfDayRoundTripsOnBothSidesOfTheEpoch) {
  const TDecodedDateTime values[] = {
      {2026, 12, 10, 4, 43, 50, 0},  {2026, 12, 10, 23, 59, 59, 999},
      {2026, 12, 10, 0, 0, 0, 1},    {1899, 12, 29, 6, 0, 0, 0},
      {1850, 7, 4, 13, 14, 15, 167}, {9999, 12, 31, 23, 59, 59, 999},
  };
  for (const TDecodedDateTime& v : values) {
    EXPECT_EQ(DecodeDateTime(EncodeDateTime(v)), v) << v.Year << "-" << v.Month << "-" << v.Day;
  }
  // Before the epoch the fraction still counts forward from midnight.
  EXPECT_EQ(EncodeDateTime({1899, 12, 29, 6, 0, 0, 0}), -1.25);
}

TEST(DateTime, DecodingRoundsToTheMillisecondAndCarriesIntoTheNextDay) {
  const double justBeforeMidnight = EncodeDate(2026, 12, 10) + (86400000.0 - 0.2) / 86400000.0;
  EXPECT_EQ(DecodeDateTime(justBeforeMidnight), (TDecodedDateTime{2026, 12, 11, 0, 0, 0, 0}));
  const double lastDayEnd = EncodeDate(2026, 12, 31) + (86400000.0 - 0.2) / 86400000.0;
  EXPECT_EQ(DecodeDateTime(lastDayEnd), (TDecodedDateTime{2027, 1, 1, 0, 0, 0, 0}));
}

TEST(DateTime, OutOfRangeValuesDecodeAsTheEpoch) {
  const TDecodedDateTime epoch{};
  for (double v : {1e300, -1e300, 2958466.5, -693595.0, std::numeric_limits<double>::quiet_NaN(),
                   std::numeric_limits<double>::infinity()})
    EXPECT_EQ(DecodeDateTime(v), epoch) << v;
}

class FormatDateTimeTest : public ::testing::Test {
 protected:
  TFormatSettings us;  // the defaults are the US formats
  TFormatSettings de = [] {
    TFormatSettings s;
    s.ShortDateFormat = "dd/mm/yyyy";
    s.LongTimeFormat = "hh:nn:ss";
    s.DateSeparator = ".";
    s.TimeSeparator = ":";
    s.TimeAMString = "";
    s.TimePMString = "";
    return s;
  }();
  TDateTime morning = EncodeDateTime({2026, 12, 10, 4, 3, 5, 7});
  TDateTime evening = EncodeDateTime({2026, 2, 1, 19, 45, 0, 250});
};

TEST_F(FormatDateTimeTest, PatternLetters) {
  struct Case {
    const char* format;
    const char* morningText;
    const char* eveningText;
  };
  const Case cases[] = {
      {"ddhhnnss", "10040305", "01194500"},  // the log file's name
      {"d/m/yy", "10/12/26", "1/2/26"},
      {"dd/mm/yyyy", "10/12/2026", "01/02/2026"},
      {"yyy", "2026", "2026"},
      {"h:n:s.z", "4:3:5.7", "19:45:0.250"},
      {"hh:nn:ss.zzz", "04:03:05.007", "19:45:00.250"},
      {"hh:mm", "04:03", "19:45"},  // m right after an hour is the minute
      {"mm hh", "12 04", "02 19"},
      {"h:nn am/pm", "4:03 am", "7:45 pm"},
      {"h:nn AM/PM", "4:03 AM", "7:45 PM"},
      {"hh a/p", "04 a", "07 p"},
      {"hh ampm", "04 AM", "07 PM"},
      {"ddd dddd mmm mmmm", "Thu Thursday Dec December", "Sun Sunday Feb February"},
      {"'d' \"hh\" d", "d hh 10", "d hh 1"},
      {"'unterminated d", "unterminated d", "unterminated d"},
      {"yyyy-mm-dd", "2026-12-10", "2026-02-01"},
      {"c", "12/10/2026 4:03:05 AM", "2/1/2026 7:45:00 PM"},
      {"ddddd", "12/10/2026", "2/1/2026"},
      {"t|tt", "4:03 AM|4:03:05 AM", "7:45 PM|7:45:00 PM"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatDateTime(c.format, morning, us), c.morningText) << c.format;
    EXPECT_EQ(FormatDateTime(c.format, evening, us), c.eveningText) << c.format;
  }
}

TEST_F(FormatDateTimeTest, SeparatorsComeFromTheSettings) {
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", morning, de), "10.12.2026 04:03");
  TFormatSettings odd = us;
  odd.TimeSeparator = ".";
  odd.DateSeparator = "-";
  EXPECT_EQ(FormatDateTime("m/d h:nn", evening, odd), "2-1 19.45");
}

TEST_F(FormatDateTimeTest, MidnightTwelveHourClock) {
  EXPECT_EQ(FormatDateTime("h:nn ampm", EncodeDate(2026, 1, 1), us), "12:00 AM");
  EXPECT_EQ(FormatDateTime("h:nn ampm", EncodeDateTime({2026, 1, 1, 12, 0, 0, 0}), us), "12:00 PM");
  // A marker inside quotes does not switch to the 12-hour clock.
  EXPECT_EQ(FormatDateTime("hh 'am/pm'", evening, us), "19 am/pm");
}

TEST_F(FormatDateTimeTest, DateTimeToStrLeavesOutOnlyAnExactMidnight) {
  const TDateTime midnight = EncodeDate(2026, 12, 10);
  EXPECT_EQ(DateTimeToStr(midnight, us), "12/10/2026");
  EXPECT_EQ(DateTimeToStr(midnight + 1.0 / 86400000.0, us), "12/10/2026 12:00:00 AM");
  EXPECT_EQ(DateTimeToStr(morning, de), "10.12.2026 04:03:05");
  EXPECT_EQ(DateTimeToStr(0, us), "12/30/1899");
}

TEST_F(FormatDateTimeTest, SelfReferringSettingsDoNotRecurseForever) {
  TFormatSettings loop = us;
  loop.ShortDateFormat = "c";
  loop.LongTimeFormat = "c tt";
  EXPECT_NO_THROW(DateTimeToStr(morning, loop));
}

TEST(DateTime, IsoTextDropsTheMillisecondsAndKeepsFourYearDigits) {
  EXPECT_EQ(DateTimeToIsoText(EncodeDateTime({2026, 12, 10, 4, 3, 5, 999})), "2026-12-10T04:03:05");
  EXPECT_EQ(DateTimeToIsoText(EncodeDate(1, 1, 1)), "0001-01-01T00:00:00");
}

}  // namespace
}  // namespace bunkmere

namespace bunkmere {
namespace {

TEST(FormatDateTimeBounds, SelfNamingFormatsDoNotGrowWithoutBound) {
  // Every "c" expands the short date format, which is itself made of "c"s.
  TFormatSettings settings;
  settings.ShortDateFormat = std::string(2000, 'c');
  settings.LongTimeFormat = std::string(2000, 'c');
  const std::string text = FormatDateTime(std::string(2000, 'c'), 46366.5, settings);
  EXPECT_LE(text.size(), 128u * 1024u);
  EXPECT_FALSE(text.empty());
}

}  // namespace
}  // namespace bunkmere
