#include "config/IniText.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/Encoding.h"

namespace bunkmere {
namespace {

struct LookupCase {
  const char* name;
  std::string text;
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};
void PrintTo(const LookupCase& c, std::ostream* os) {
  *os << c.name;
}

class IniTextLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(IniTextLookup, FindsTheValueByTheReadingRules) {
  const LookupCase& c = GetParam();
  const TIniText ini(c.text);
  const auto value = ini.Value(c.section, c.key);
  EXPECT_EQ(value ? std::optional<std::string>(*value) : std::nullopt, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, IniTextLookup,
    testing::Values(
        LookupCase{"Plain", "[Paths]\r\nHelpPath=C:\\Help\r\n", "Paths", "HelpPath", "C:\\Help"},
        LookupCase{"SectionAndKeyIgnoreCase", "[pATHS]\nhelppath=x\n", "Paths", "HELPPATH", "x"},
        LookupCase{"LinesAndPartsTrimmed", "  [  Paths ]  \n \t HelpPath  =  a b  \t\n", "Paths",
                   "HelpPath", "a b"},
        LookupCase{"QuotesKept", "[S]\nK=\"quoted\" \n", "S", "K", "\"quoted\""},
        LookupCase{"SplitAtFirstEquals", "[DataProvider]\nConnStr=A=1;B=2\n", "DataProvider",
                   "ConnStr", "A=1;B=2"},
        LookupCase{"EmptyValueIsPresent", "[S]\nK=\n", "S", "K", ""},
        LookupCase{"FirstKeyWins", "[S]\nK=first\nk=second\n", "S", "K", "first"},
        // A repeated section is ignored as a whole, also for keys the first one lacks.
        LookupCase{"FirstSectionWins", "[S]\nK=first\n[s]\nK=second\nOther=1\n", "S", "K", "first"},
        LookupCase{"RepeatedSectionNotMerged", "[S]\nK=first\n[s]\nOther=1\n", "S", "Other",
                   std::nullopt},
        LookupCase{"LaterSectionsStillRead", "[S]\n[T]\nK=t\n[S]\n[U]\nK=u\n", "U", "K", "u"},
        LookupCase{"CommentLinesSkipped", "[S]\n;K=commented\n  ; K=also\nK=real\n", "S", "K",
                   "real"},
        // Only a leading ";" makes a comment; inside a value it is text.
        LookupCase{"SemicolonInValueKept", "[S]\nK=a;b ; c\n", "S", "K", "a;b ; c"},
        LookupCase{"LinesBeforeFirstSectionIgnored", "K=orphan\n[S]\n", "S", "K", std::nullopt},
        LookupCase{"LineWithoutEqualsCarriesNothing", "[S]\nK\nK=later\n", "S", "K", "later"},
        LookupCase{"EmptyKey", "[S]\n=v\n", "S", "", "v"},
        LookupCase{"UnnamedSection", "[]\nK=v\n", "", "K", "v"},
        LookupCase{"UnnamedSectionNotANamedOne", "[ ]\nK=v\n", "S", "K", std::nullopt},
        LookupCase{"BracketWithoutCloseIsAnEntryLine", "[S]\n[T=1\n", "S", "[T", "1"},
        LookupCase{"LoneBracketIsNoSection", "[S]\n[\nK=v\n", "S", "K", "v"},
        LookupCase{"CrOnlyLineBreaks", "[S]\rA=1\rK=v\r", "S", "K", "v"},
        LookupCase{"NoLineBreakAtEnd", "[S]\nK=v", "S", "K", "v"},
        LookupCase{"MissingSection", "[S]\nK=v\n", "T", "K", std::nullopt},
        LookupCase{"MissingKey", "[S]\nK=v\n", "S", "J", std::nullopt},
        LookupCase{"EmptyText", "", "S", "K", std::nullopt},
        // Control characters are trimmed like blanks; bytes of other characters never are.
        LookupCase{"ControlCharsTrimmed", std::string("[S]\nK=\x01v\x7f\x00", 11), "S", "K",
                   "v\x7f"},
        LookupCase{"NonAsciiKept", "[S]\nK=caf\xc3\xa9 \xc2\xa0\n", "S", "K",
                   "caf\xc3\xa9 \xc2\xa0"}),
    [](const testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.name); });

struct BytesCase {
  const char* name;
  std::string bytes;
  unsigned code_page;
  std::string expected;  // value of [S] K
};
void PrintTo(const BytesCase& c, std::ostream* os) {
  *os << c.name;
}

class IniTextEncoding : public testing::TestWithParam<BytesCase> {};

TEST_P(IniTextEncoding, DecodesByBomOrCodePage) {
  const BytesCase& c = GetParam();
  const TIniText ini = TIniText::FromBytes(c.bytes, c.code_page);
  const auto value = ini.Value("S", "K");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(*value, c.expected);
}

std::string Utf16Bytes(std::u16string_view AText, bool ABigEndian) {
  std::string bytes = ABigEndian ? "\xfe\xff" : "\xff\xfe";
  for (char16_t unit : AText) {
    const char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xff);
    bytes.push_back(ABigEndian ? hi : lo);
    bytes.push_back(ABigEndian ? lo : hi);
  }
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, IniTextEncoding,
    testing::Values(
        BytesCase{"Utf8Bom", "\xef\xbb\xbf[S]\r\nK=\xc3\xa9\r\n", CP_WINDOWS1252, "\xc3\xa9"},
        BytesCase{"Utf16LeBom", Utf16Bytes(u"[S]\r\nK=\u00e9\u20ac\r\n", false), CP_UTF8,
                  "\xc3\xa9\xe2\x82\xac"},
        BytesCase{"Utf16BeBom", Utf16Bytes(u"[S]\r\nK=\u00e9\r\n", true), CP_UTF8, "\xc3\xa9"},
        // Without a mark: the ANSI code page; a file from a Windows workstation is 1252 text.
        BytesCase{"AnsiWindows1252", "[S]\r\nK=\xe9\x80\r\n", CP_WINDOWS1252,
                  "\xc3\xa9\xe2\x82\xac"},
        BytesCase{"AnsiUtf8Valid", "[S]\nK=\xc3\xa9\n", CP_UTF8, "\xc3\xa9"},
        BytesCase{"AnsiUtf8InvalidFallsBackTo1252", "[S]\nK=\xe9\n", CP_UTF8, "\xc3\xa9"},
        // A UTF-16 file cut in the middle of a unit still yields its whole lines.
        BytesCase{"Utf16Truncated", Utf16Bytes(u"[S]\nK=v\n", false) + "\x41", CP_UTF8, "v"}),
    [](const testing::TestParamInfo<BytesCase>& info) { return std::string(info.param.name); });

TEST(IniText, ReadStringGivesTheDefaultOnlyWhenAbsent) {
  const TIniText ini("[S]\nEmpty=\n");
  EXPECT_EQ(ini.ReadString("S", "Empty", "dflt"), "");
  EXPECT_EQ(ini.ReadString("S", "Missing", "dflt"), "dflt");
}

}  // namespace
}  // namespace bunkmere
