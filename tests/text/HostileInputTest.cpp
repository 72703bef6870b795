// Site files, descriptions and server values reach the text helpers unchecked: a long hostile
// input must cost about its length, never its square or cube. Each case is large enough that
// a super-linear helper takes minutes (or overflows the stack), while a linear one takes
// milliseconds, so the generous time limit below cannot be missed by a sound helper.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "core/DateTime.h"
#include "core/SqlText.h"

namespace bunkmere {
namespace {

std::string Repeat(const std::string& APiece, std::size_t ACount) {
  std::string s;
  s.reserve(APiece.size() * ACount);
  for (std::size_t k = 0; k < ACount; ++k) s += APiece;
  return s;
}

// A format that names the settings' own formats, as a hostile site setting can.
std::string FormatWithOwnSettings(const std::string& AFormat, TDateTime AWhen) {
  TFormatSettings settings;
  settings.ShortDateFormat = AFormat;
  settings.LongTimeFormat = AFormat;
  return FormatDateTime(AFormat, AWhen, settings);
}

TEST(HostileInput, TextHelpersCostAboutTheLengthOfTheirInput) {
  struct TCase {
    const char* Name;
    std::function<void()> Run;
  };
  const TCase cases[] = {
      // At midnight "c" writes nothing of its own, so only the work, not the text, grew.
      {"self-naming date format at midnight",
       [] { EXPECT_EQ(FormatWithOwnSettings(Repeat("c", 3000), 46366.0), ""); }},
      {"self-naming date format with a time",
       [] { EXPECT_LE(FormatWithOwnSettings(Repeat("c", 3000), 46366.5).size(), 4200u); }},
      {"many hours, each looking for an am/pm marker",
       [] {
         const std::string text = FormatWithOwnSettings(Repeat("hx", 100000), 46366.75);
         EXPECT_EQ(text.substr(0, 6), "18x18x");
       }},
      {"many hours before one am/pm marker",
       [] {
         const std::string text =
             FormatWithOwnSettings(Repeat("h ''''", 2000) + "am/pm", 46366.75);
         EXPECT_EQ(text, Repeat("6 ", 2000) + "pm");
       }},
      {"a format longer than any real one is read in part",
       [] { EXPECT_EQ(FormatWithOwnSettings(Repeat("x", 100000), 1.0).size(), 4096u); }},
      {"a name of many parts",
       [] {
         EXPECT_EQ(NormalizeName(Repeat("a.", 200000) + "b", TNameQuoting::nqQuote),
                   Repeat("[a].", 200000) + "[b]");
       }},
      {"a name of many quoted parts",
       [] {
         EXPECT_EQ(NormalizeName(Repeat("[a.b].", 100000) + "c", TNameQuoting::nqUnquote),
                   Repeat("a.b.", 100000) + "c");
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto start = std::chrono::steady_clock::now();
    c.Run();
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_LT(spent, std::chrono::seconds(5)) << c.Name;
  }
}

}  // namespace
}  // namespace bunkmere
