#include "core/Convert.h"

#include <gtest/gtest.h>

#include <optional>

#include "core/Exceptions.h"

namespace bunkmere {
namespace {

TEST(Convert, IntToStrWritesDecimalWithItsSignDownToTheSmallestInt64) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(17), "17");
  EXPECT_EQ(IntToStr(-2147483648LL), "-2147483648");
  EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
}

TEST(Convert, StrToIntReadsThePlatformsIntegerForms) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  };
  const Case cases[] = {
      {"0", 0},
      {"17", 17},
      {"+17", 17},
      {"-17", -17},
      {"007", 7},
      {"   42", 42},          // leading blanks are allowed
      {"42 ", std::nullopt},  // trailing ones are not
      {"\t42", std::nullopt},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999999999", std::nullopt},
      {"$10", 16},
      {"x10", 16},
      {"X1f", 31},
      {"0x10", 16},
      {"0XfF", 255},
      {"-$10", -16},
      {"x7FFFFFFF", 2147483647},
      // Hexadecimal digits spell the 32-bit pattern.
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"$100000000", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"x", std::nullopt},
      {"$G", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"+-1", std::nullopt},
      {"1.0", std::nullopt},
      {"1e3", std::nullopt},
      {"12abc", std::nullopt},
      {"\xEF\xBC\x91", std::nullopt},  // a full-width digit
  };
  for (const Case& c : cases) {
    std::int32_t value = 12345;
    EXPECT_EQ(TryStrToInt(c.text, value), c.value.has_value()) << '"' << c.text << '"';
    if (c.value) {
      EXPECT_EQ(value, *c.value) << c.text;
      EXPECT_EQ(StrToInt(c.text), *c.value) << c.text;
    } else {
      EXPECT_EQ(value, 12345) << "a failed reading must not change the target: " << c.text;
    }
  }
}

TEST(Convert, StrToIntFailureNamesTheText) {
  try {
    StrToInt("twelve");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'twelve' is not a valid integer value");
  }
}

TEST(Convert, IniIntegersTakeDecimalAndHexadecimalFormsWithin32Bits) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  };
  const Case cases[] = {
      {"1", 1},
      {"-1", -1},
      {"0", 0},
      {"0x10", 16},
      {"0X7fffffff", 2147483647},
      {"0xFFFFFFFF", -1},
      {"$10", 16},
      {"x10", 16},
      {"0x", std::nullopt},  // two characters: not the hexadecimal form, and no number
      {"0x-1", std::nullopt},
      {"0x 1", std::nullopt},
      {"0x$1", std::nullopt},
      {"-0x10", -16},
      {"yes", std::nullopt},
      {"", std::nullopt},
      {"0x100000000", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(IniStrToInt(c.text), c.value) << c.text;
}

TEST(Convert, StrToBoolReadsWordsAndNumbers) {
  struct Case {
    const char* text;
    std::optional<bool> value;
  };
  const Case cases[] = {
      {"True", true},
      {"TRUE", true},
      {"false", false},
      {"FaLsE", false},
      {"1", true},
      {"-1", true},
      {"0", false},
      {"00", false},
      {"$0", false},
      {"0x1", true},
      {"2", true},
      {"0.0", false},
      {"-0.5", true},
      {".5", true},
      {"1e3", true},
      {"0e5", false},
      {"99999999999999999999", true},  // a number, even past the integer range
      {"SSPI", std::nullopt},
      {"sspi", std::nullopt},
      {"yes", std::nullopt},
      {"T", std::nullopt},
      {" True", std::nullopt},
      {"", std::nullopt},
      {".", std::nullopt},
      {"1e", std::nullopt},
      {"e5", std::nullopt},
  };
  for (const Case& c : cases) {
    bool value = false;
    EXPECT_EQ(TryStrToBool(c.text, value), c.value.has_value()) << c.text;
    if (c.value) {
      EXPECT_EQ(value, *c.value) << c.text;
    }
  }
}

TEST(Convert, StrToBoolFailureNamesTheText) {
  try {
    StrToBool("sspi");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'sspi' is not a valid boolean value");
  }
}

TEST(Convert, BoolToStrRoundTrips) {
  for (bool b : {false, true}) {
    for (bool words : {false, true}) EXPECT_EQ(StrToBool(BoolToStr(b, words)), b);
  }
  EXPECT_EQ(BoolToStr(true), "-1");
  EXPECT_EQ(BoolToStr(true, true), "True");
}

}  // namespace
}  // namespace bunkmere
