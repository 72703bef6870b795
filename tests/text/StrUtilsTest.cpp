#include "core/StrUtils.h"

#include <gtest/gtest.h>

namespace bunkmere {
namespace {

TEST(StrUtils, CaseFoldingTouchesOnlyAsciiLetters) {
  // "é" is two bytes (C3 A9): folding them as Latin-1 would corrupt the text.
  EXPECT_EQ(UpperCase("abz_09\xC3\xA9"), "ABZ_09\xC3\xA9");
  EXPECT_EQ(LowerCase("ABZ[@]\xC3\x89"), "abz[@]\xC3\x89");
}

TEST(StrUtils, CompareTextFoldsOnlyAsciiLettersToUpperCase) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {"veltrane.app", "VELTRANE.APP", 0},
      {"", "", 0},
      {"abc", "abd", -1},
      {"ab", "abc", -1},
      {"b", "A", 1},
      // "_" lies between the upper- and lower-case letters: folding to upper case puts it
      // after every letter.
      {"a_", "aZ", 1},
      {"\xC3\xA9", "\xC3\x89", 1},  // no folding outside ASCII
  };
  for (const Case& c : cases) {
    const int r = CompareText(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    EXPECT_EQ(SameText(c.a, c.b), c.sign == 0) << c.a << " vs " << c.b;
  }
}

TEST(StrUtils, FindAndStartsTextIgnoreCase) {
  EXPECT_EQ(FindText("D:\\Apps\\veltrane.app\\Bin\\", "VELTRANE.APP"), 8u);
  EXPECT_EQ(FindText("abc", "abcd"), std::string_view::npos);
  EXPECT_EQ(FindText("abc", ""), 0u);
  EXPECT_TRUE(StartsText("AM/", "am/pm"));
  EXPECT_FALSE(StartsText("am/pm", "am/"));
}

TEST(StrUtils, TrimCutsBlanksAndControlCharacters) {
  struct Case {
    std::string in, both, left, right;
  };
  const Case cases[] = {
      {"  a b \t", "a b", "a b \t", "  a b"},
      {std::string("\0\x1F x\r\n", 6), "x", "x\r\n", std::string("\0\x1F x", 4)},
      {" \t ", "", "", ""},
      {"", "", "", ""},
      // A no-break space (C2 A0) is not a blank to the trimmer and must stay whole.
      {"\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Trim(c.in), c.both);
    EXPECT_EQ(TrimLeft(c.in), c.left);
    EXPECT_EQ(TrimRight(c.in), c.right);
  }
}

TEST(StrUtils, SplitKeepsEmptyPiecesAndJoinInverts) {
  const std::vector<std::string> pieces = Split("A=1;;B=2;", ';');
  EXPECT_EQ(pieces, (std::vector<std::string>{"A=1", "", "B=2", ""}));
  EXPECT_EQ(Join(pieces, ";"), "A=1;;B=2;");
  EXPECT_EQ(Split("", ';'), std::vector<std::string>{""});
  EXPECT_EQ(Join({}, ";"), "");
}

TEST(StrUtils, StringReplaceReplacesEveryMatchLeftToRightAndNoEmptyPattern) {
  EXPECT_EQ(StringReplace("a/b//c", "/", "\\"), "a\\b\\\\c");
  EXPECT_EQ(StringReplace("aaa", "aa", "b"), "ba");
  EXPECT_EQ(StringReplace("abc", "", "x"), "abc");
}

TEST(StrUtils, AdjustLineBreaksWritesCrLf) {
  EXPECT_EQ(AdjustLineBreaks("a\nb\r\nc\rd\n\n"), "a\r\nb\r\nc\r\nd\r\n\r\n");
  EXPECT_EQ(AdjustLineBreaks("\r\r\n"), "\r\n\r\n");
  EXPECT_EQ(AdjustLineBreaks("no break"), "no break");
}

TEST(StrUtils, OneLineJoinsLinesWithOneSpace) {
  struct Case {
    const char* In;
    const char* Out;
  } cases[] = {
      {"plain", "plain"},
      {"a\r\n\r\nb", "a b"},
      {"lock refused.\r\n     User Name: clerk\r\n     Table: X",
       "lock refused. User Name: clerk Table: X"},
      {"tail \n\n", "tail"},
      {"\r\nhead", "head"},
      {"a\rb\nc", "a b c"},
      {"in  line  blanks stay", "in  line  blanks stay"},
  };
  for (const Case& c : cases) EXPECT_EQ(OneLine(c.In), c.Out) << c.In;
}

}  // namespace
}  // namespace bunkmere
