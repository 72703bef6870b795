#include "core/Encoding.h"

#include <gtest/gtest.h>

namespace bunkmere {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(Encoding, Utf8ToUtf16DecodesAndReplacesEachInvalidSequenceWithOneFffd) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"", u""},
      {"CFGCELL", u"CFGCELL"},
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},  // a surrogate pair
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      // Malformed input: one U+FFFD per maximal invalid subsequence, decoding resumes after.
      {"\x80", u"\uFFFD"},
      {"\xC3", u"\uFFFD"},        // truncated
      {"\xE2\x82", u"\uFFFD"},    // truncated in the middle
      {"\xE2\x82x", u"\uFFFDx"},  // resumes at the byte that broke it
      {"\xF0\x9F\x98", u"\uFFFD"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong "/"
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong, three bytes
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xFF\xFE", u"\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16Length(c.utf8), c.utf16.size()) << c.utf8;
  }
}

TEST(Encoding, Utf16ToUtf8ReplacesUnpairedSurrogates) {
  struct Case {
    std::u16string utf16;
    std::string utf8;
  };
  const Case cases[] = {
      {u"caf\u00E9", "caf\xC3\xA9"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string(1, char16_t(0xD83D)), kFffd},                         // lone high surrogate
      {std::u16string(1, char16_t(0xDE00)), kFffd},                         // lone low surrogate
      {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, kFffd + kFffd},  // reversed pair
      {std::u16string{char16_t(0xD83D), u'x'}, kFffd + "x"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
}

TEST(Encoding, ValidityAndSanitizing) {
  EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
  EXPECT_TRUE(IsValidUtf8(kFffd));  // a real replacement character is valid text
  EXPECT_FALSE(IsValidUtf8("caf\xE9"));
  EXPECT_FALSE(IsValidUtf8("\xC3"));
  EXPECT_EQ(SanitizeUtf8("a\xE9z"), "a" + kFffd + "z");
  EXPECT_EQ(SanitizeUtf8("ok \xC3\xA9"), "ok \xC3\xA9");
}

TEST(Encoding, Utf8LeftNeverSplitsACharacter) {
  struct Case {
    std::string text;
    std::size_t count;
    std::string left;
  };
  const std::string smile = "\xF0\x9F\x98\x80";  // two UTF-16 units
  const Case cases[] = {
      {"JAIL", 30, "JAIL"},
      {"ABCDEFGHIJ", 3, "ABC"},
      {"caf\xC3\xA9s", 4, "caf\xC3\xA9"},
      {"ab" + smile, 3, "ab"},  // only one unit left: the pair stays out
      {"ab" + smile, 4, "ab" + smile},
      {smile + "x", 1, ""},
      {"abc", 0, ""},
      {"a\xE2\x82"
       "b",
       2, "a\xE2\x82"},  // a malformed sequence counts as one unit
  };
  for (const Case& c : cases) {
    const std::string left = Utf8Left(c.text, c.count);
    EXPECT_EQ(left, c.left) << c.text << " / " << c.count;
    EXPECT_LE(Utf16Length(left), c.count);
  }
}

TEST(Encoding, DecodeTextFollowsTheByteOrderMark) {
  struct Case {
    const char* what;
    std::string bytes;
    unsigned codePage;
    std::string text;
  };
  const Case cases[] = {
      {"UTF-8 BOM", "\xEF\xBB\xBF[Paths]\r\n", CP_WINDOWS1252, "[Paths]\r\n"},
      {"UTF-8 BOM, bad byte",
       "\xEF\xBB\xBF"
       "a\xE9",
       CP_WINDOWS1252, "a" + kFffd},
      {"UTF-16 LE",
       std::string("\xFF\xFE"
                   "a\0\xE9\0",
                   6),
       CP_UTF8, "a\xC3\xA9"},
      {"UTF-16 BE", std::string("\xFE\xFF\0a\x20\xAC", 6), CP_UTF8, "a\xE2\x82\xAC"},
      {"UTF-16 LE pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), CP_UTF8, "\xF0\x9F\x98\x80"},
      {"UTF-16 LE odd length",
       std::string("\xFF\xFE"
                   "a\0b",
                   5),
       CP_UTF8, "a" + kFffd},
      {"UTF-16 LE lone surrogate", std::string("\xFF\xFE\x3D\xD8", 4), CP_UTF8, kFffd},
      {"BOM only", "\xFF\xFE", CP_UTF8, ""},
      {"empty", "", CP_UTF8, ""},
      {"UTF-8 locale, valid UTF-8", "caf\xC3\xA9", CP_UTF8, "caf\xC3\xA9"},
      {"UTF-8 locale, Windows file", "caf\xE9 \x80", CP_UTF8, "caf\xC3\xA9 \xE2\x82\xAC"},
      {"1252 locale", "caf\xC3\xA9", CP_WINDOWS1252, "caf\xC3\x83\xC2\xA9"},
      {"1252 undefined byte", "\x81\x8D", CP_WINDOWS1252, "\xC2\x81\xC2\x8D"},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeText(c.bytes, c.codePage), c.text) << c.what;
}

TEST(Encoding, Windows1252TableRoundTripsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string text = Windows1252ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(text));
  EXPECT_EQ(Utf16Length(text), 256u);
  EXPECT_EQ(EncodeAnsi(text, CP_WINDOWS1252), all);
  // Spot checks of the block that differs from Latin-1.
  EXPECT_EQ(Windows1252ToUtf8("\x80\x8A\x99\x9F"), "\xE2\x82\xAC\xC5\xA0\xE2\x84\xA2\xC5\xB8");
}

TEST(Encoding, EncodeAnsiReplacesWhatTheCodePageLacks) {
  struct Case {
    std::string text;
    unsigned codePage;
    std::string bytes;
  };
  const Case cases[] = {
      {"Cell 12\r\n", CP_WINDOWS1252, "Cell 12\r\n"},
      {"caf\xC3\xA9 \xE2\x82\xAC", CP_WINDOWS1252, "caf\xE9 \x80"},
      {"\xC4\x80\xE4\xB8\xAD", CP_WINDOWS1252, "??"},  // U+0100, U+4E2D
      {"\xF0\x9F\x98\x80", CP_WINDOWS1252, "?"},       // one character, one "?"
      {"a\xE9z", CP_WINDOWS1252, "a?z"},               // malformed input
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", CP_UTF8, "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"a\xE9z", CP_UTF8, "a" + kFffd + "z"},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeAnsi(c.text, c.codePage), c.bytes) << c.text;
}

TEST(Encoding, RoundTripThroughUtf16KeepsValidText) {
  const std::string samples[] = {"",
                                 "ASCII",
                                 "caf\xC3\xA9",
                                 "\xE4\xB8\xAD\xE6\x96\x87",
                                 "\xF0\x9F\x98\x80\xF0\x90\x80\x80",
                                 std::string("\0x", 2)};
  for (const std::string& s : samples) EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(s)), s);
}

}  // namespace
}  // namespace bunkmere
