// sqlstandin's command line: what it accepts, and the one-line complaint for what it does not.

#include <gtest/gtest.h>

#include "standin/server/Faults.h"
#include "standin/server/Options.h"

namespace standin::test {
namespace {

struct OptionsCase {
  std::vector<std::string> args;
  std::string error;  // empty: accepted
};

TEST(StandinOptions, NamesTheArgumentItCannotUse) {
  const OptionsCase cases[] = {
      {{"--data", "d"}, ""},
      {{"--data", "d", "--port", "1433", "--login", "u:p", "--init", "i.sql", "--log", "l"}, ""},
      {{"--help"}, ""},
      {{"-h"}, ""},
      {{"foo"}, "unknown argument 'foo'"},
      {{"--data", "d", "foo"}, "unknown argument 'foo'"},
      {{"--data", "d", "foo", "bar"}, "unknown argument 'foo'"},
      {{"--bogus", "1", "--data", "d"}, "unknown argument '--bogus'"},
      {{"--data"}, "option --data needs a value"},
      {{"--data", "d", "--port"}, "option --port needs a value"},
      {{"--data", "d", "--port", "x"}, "--port needs a number from 0 to 65535"},
      {{"--data", "d", "--login", "nocolon"}, "--login needs USER:PASSWORD"},
      {{"--port", "0"}, "--data DIR is required"},
      {{}, "--data DIR is required"},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    CommandLine cl;
    EXPECT_EQ(ParseCommandLine(c.args, cl), c.error) << joined;
  }
}

TEST(StandinOptions, KeepsTheValuesItWasGiven) {
  CommandLine cl;
  ASSERT_EQ(ParseCommandLine({"--data", "d", "--port", "1433", "--login", "u:p:q", "--init",
                              "i.sql", "--log", "l.json", "--fault", "delay:5"},
                             cl),
            "");
  EXPECT_EQ(cl.dataDir, "d");
  EXPECT_EQ(cl.server.port, 1433);
  ASSERT_EQ(cl.server.logins.size(), 1u);
  EXPECT_EQ(cl.server.logins[0].first, "u");
  EXPECT_EQ(cl.server.logins[0].second, "p:q");
  EXPECT_EQ(cl.initFile, "i.sql");
  EXPECT_EQ(cl.logFile, "l.json");
  EXPECT_FALSE(cl.help);
}

// The long-value fault's arguments: the pattern may hold colons, the length ends the spec.
TEST(StandinFaultOptions, LongValueTakesAPatternAndALength) {
  struct Case {
    const char* Spec;
    const char* Error;  // empty: accepted
    const char* Pattern;
    std::uint32_t Bytes;
  } const cases[] = {
      {"long-value:FROM T:70", "", "FROM T", 70},
      {"long-value:a:b:65534", "", "a:b", 65534},
      {"long-value:FROM T:65535", "long-value needs PATTERN:BYTES (1 to 65534)", "", 0},
      {"long-value:FROM T:0", "long-value needs PATTERN:BYTES (1 to 65534)", "", 0},
      {"long-value:FROM T", "long-value needs PATTERN:BYTES (1 to 65534)", "", 0},
      {"long-value::12", "long-value needs PATTERN:BYTES (1 to 65534)", "", 0},
      {"long-value:FROM T:-5", "long-value needs PATTERN:BYTES (1 to 65534)", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Spec);
    FaultConfig faults;
    EXPECT_EQ(faults.Add(c.Spec), c.Error);
    if (*c.Error != '\0') continue;
    EXPECT_EQ(faults.LongValueBytesFor(std::string("select * ") + c.Pattern + " x"), c.Bytes);
    EXPECT_EQ(faults.LongValueBytesFor("select 1"), 0u);
  }
}

}  // namespace
}  // namespace standin::test
