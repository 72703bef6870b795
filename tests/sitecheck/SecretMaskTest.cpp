#include "sitecheck/SecretMask.h"

#include <gtest/gtest.h>

#include <string>

#include "core/Exceptions.h"
#include "dataaccess/ConnectSettings.h"

namespace bunkmere {
namespace {

// A connection string is shown as the reader understood it, never as written: no password,
// and nothing of a string that cannot be read.
TEST(ShownConnectString, ShowsTheSettingsWithoutThePassword) {
  struct Case {
    const char* Text;
    const char* Shown;
  } cases[] = {
      {"Data Source=srv;User ID=sa;Password=S3cret", "Data Source=srv;User ID=sa;Password=****"},
      {"pwd=S3cret;Server=x", "Data Source=x;Password=****"},
      {"Password=\"a;b=c\";Server=x", "Data Source=x;Password=****"},
      {"Server=x;Password=", "Data Source=x"},
      {"Server=x;;Password=S3cret;=oops", "(cannot be read; not shown)"},
      {"Data Source=\"MYSRV;Initial Catalog=JAIL;Password=Secr3t", "(cannot be read; not shown)"},
      {"Data Source=\"MYSRV;Password=Secr3t\";User ID=sa", "Data Source=****;User ID=sa"},
      {"Data Source=srv;Integrated Security=SSPI", "Data Source=srv;Integrated Security=SSPI"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(ShownConnectString(c.Text), c.Shown);
  }
}

// What every program says about a connection string it cannot read is the same whatever the
// password: a password cut at an unquoted ";" or "=" leaves its tail to be read as the next
// parameter, and the message about that parameter must not show it.
TEST(ShownConnectString, NoReaderMessageDependsOnThePassword) {
  struct Case {
    const char* Template;  // "{}" stands for the password
    const char* First;
    const char* Second;
  } cases[] = {
      {"Data Source=srv;Password={};User ID=sa", "pa;ss", "xy;zzzz"},
      {"Data Source=srv;Password={};User ID=sa", "a;b=c", "dd;eee=ffff"},
      {"Data Source=srv;Password={}", "a;b:c=d", "ee;f\"g=hh"},
      {"Data Source=srv;Password={};Port=1", "x;Port=zz", "yy;Port=q"},
      {"Data Source=srv;Password={}", "a;}", "bbb;}}"},
      {"Data Source=srv;Password={};Data Source=x", "database", "Data"},
      {"Data Source=\"srv;Password={}", "server", "Secr3t"},
      {"Data Source=srv\";Password={}", "pa\"ss", "x\""},
  };
  auto read = [](const std::string& AText) {
    TConnectSettings s;
    try {
      ApplyConnectString(s, AText);
      return std::string("read");
    } catch (const Exception& e) {
      return e.Message();
    }
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Template);
    std::string first = c.Template, second = c.Template;
    first.replace(first.find("{}"), 2, c.First);
    second.replace(second.find("{}"), 2, c.Second);
    EXPECT_EQ(read(first), read(second));
    EXPECT_EQ(ShownConnectString(first), ShownConnectString(second));
  }
}

}  // namespace
}  // namespace bunkmere
