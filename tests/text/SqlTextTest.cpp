#include "core/SqlText.h"

#include <gtest/gtest.h>

namespace bunkmere {
namespace {

TEST(SqlText, QuotedStrDoublesSingleQuotes) {
  EXPECT_EQ(QuotedStr("JAIL"), "'JAIL'");
  EXPECT_EQ(QuotedStr("O'Brien's"), "'O''Brien''s'");
  EXPECT_EQ(QuotedStr(""), "''");
  EXPECT_EQ(QuotedStr("'"), "''''");
  EXPECT_EQ(QuotedStr("50%"), "'50%'");
}

TEST(SqlText, NameClassification) {
  struct Case {
    const char* name;
    bool quoted;
    bool needsQuoting;
  };
  const Case cases[] = {
      {"CFGCELL", false, false},    {"a_b$9", false, false},     {"1ST", false, true},
      {"_x", false, true},          {"##LOCK", false, true},     {"MY TABLE", false, true},
      {"caf\xC3\xA9", false, true},  // not an ASCII letter
      {"[CFGCELL]", true, true},    {"\"CFGCELL\"", true, true}, {"[", false, true},
      {"\"", false, true},  // one character is not a pair of quotes
      {"[x\"", false, true},        {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsQuotedName(c.name), c.quoted) << c.name;
    EXPECT_EQ(NameNeedsQuoting(c.name), c.needsQuoting) << c.name;
  }
}

TEST(SqlText, QuotingDoublesAClosingBracketAndUnquotingUndoesIt) {
  struct Case {
    const char* name;
    const char* quoted;
    const char* ifNeeded;
    const char* unquoted;
  };
  const Case cases[] = {
      {"CFGCELL", "[CFGCELL]", "CFGCELL", "CFGCELL"},
      {"1ST", "[1ST]", "[1ST]", "1ST"},
      {"[CFGCELL]", "[CFGCELL]", "[CFGCELL]", "CFGCELL"},
      {"\"Cell\"", "\"Cell\"", "\"Cell\"", "Cell"},
      {"\"a\"\"b\"", "\"a\"\"b\"", "\"a\"\"b\"", "a\"b"},
      // A closing bracket inside a name is doubled, or it would end the identifier early.
      {"x] DROP TABLE y --", "[x]] DROP TABLE y --]", "[x]] DROP TABLE y --]",
       "x] DROP TABLE y --"},
      {"[a]]b]", "[a]]b]", "[a]]b]", "a]b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QuoteName(c.name), c.quoted) << c.name;
    EXPECT_EQ(QuoteNameIfNeeded(c.name), c.ifNeeded) << c.name;
    EXPECT_EQ(UnquoteName(c.name), c.unquoted) << c.name;
    EXPECT_EQ(UnquoteName(QuoteName(c.unquoted)), c.unquoted) << c.name;
  }
}

TEST(SqlText, BracketEscapeDoublesEveryClosingBracket) {
  EXPECT_EQ(BracketEscape("JAIL.CFGCELL.17"), "JAIL.CFGCELL.17");
  EXPECT_EQ(BracketEscape("a]b]]"), "a]]b]]]]");
}

TEST(SqlText, NormalizeNameTreatsEveryPartAlike) {
  struct Case {
    const char* name;
    const char* unquoted;
    const char* ifNeeded;
    const char* quoted;
  };
  const Case cases[] = {
      {"dbo.CFGCELL", "dbo.CFGCELL", "dbo.CFGCELL", "[dbo].[CFGCELL]"},
      {"[dbo].[Cfg Cell]", "dbo.Cfg Cell", "[dbo].[Cfg Cell]", "[dbo].[Cfg Cell]"},
      // The first part of a bracketed name ends at "].", so dots inside it stay.
      {"[a.b].c", "a.b.c", "[a.b].c", "[a.b].[c]"},
      {"[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]", "tempdb.dbo.##LOCK-JAIL.CFGCELL.17",
       "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]", "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]"},
      {"\"my.schema\".t", "my.schema.t", "\"my.schema\".t", "\"my.schema\".[t]"},
      {"db..t", "db..t", "db..t", "[db]..[t]"},
      {"MixedCase", "MixedCase", "MixedCase", "[MixedCase]"},
      {"", "", "", ""},
      // A doubled "]" followed by "." is part of the name, not the end of the first part.
      {"[a]].b]", "a].b", "[a]].b]", "[a]].b]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NormalizeName(c.name, TNameQuoting::nqUnquote), c.unquoted) << c.name;
    EXPECT_EQ(NormalizeName(c.name, TNameQuoting::nqQuoteIfNeeded), c.ifNeeded) << c.name;
    EXPECT_EQ(NormalizeName(c.name, TNameQuoting::nqQuote), c.quoted) << c.name;
  }
}

}  // namespace
}  // namespace bunkmere
