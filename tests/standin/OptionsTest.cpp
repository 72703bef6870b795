// sqlstandin's command line: what it accepts, and the one-line complaint for what it does not.

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace standin::test
