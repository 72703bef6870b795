#include "dataaccess/ServerConnectString.h"

#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "dataaccess/odbc/OdbcError.h"

namespace bunkmere {
namespace {

TEST(DataSourceTest, LocalAndPortRules) {
  struct TCase {
    const char* Server;
    int Port;
    const char* Expected;
  };
  const TCase cases[] = {
      {"", 1433, "(local)"},          {"", 1500, "(local),1500"},       {"SRV", 1500, "SRV,1500"},
      {"SRV,2000", 1500, "SRV,2000"}, {"SRV\\INST", 1433, "SRV\\INST"},
  };
  for (const TCase& c : cases) {
    TConnectSettings s;
    s.Server = c.Server;
    s.Port = c.Port;
    EXPECT_EQ(DataSourceName(s), c.Expected) << c.Server << " " << c.Port;
  }
}

#ifdef _WIN32
TEST(DriverChoiceTest, WindowsOwnDriverOnlyWhenMicrosoftsNewerOnesAreMissing) {
  struct TCase {
    std::vector<std::string> Installed;
    std::string Expected;
  };
  const TCase cases[] = {
      {{"SQL Server", "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"},
       "ODBC Driver 18 for SQL Server"},
      {{"SQL Server", "ODBC Driver 17 for SQL Server"}, "ODBC Driver 17 for SQL Server"},
      {{"FreeTDS", "SQL Server"}, "SQL Server"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ChooseOdbcDriver(TOLEDBProvider::prAuto, c.Installed), c.Expected) << c.Expected;
}
#endif

TEST(DriverChoiceTest, NewestSqlServerDriverFirstThenFreeTds) {
  const std::vector<std::string> both = {"FreeTDS", "ODBC Driver 17 for SQL Server", "PostgreSQL"};
  const std::vector<std::string> tds = {"FreeTDS"};
  const std::vector<std::string> none = {"PostgreSQL"};
  for (TOLEDBProvider p :
       {TOLEDBProvider::prAuto, TOLEDBProvider::prSQL, TOLEDBProvider::prNativeClient}) {
    EXPECT_EQ(ChooseOdbcDriver(p, both), "ODBC Driver 17 for SQL Server");
    EXPECT_EQ(ChooseOdbcDriver(p, tds), "FreeTDS");
  }
  try {
    ChooseOdbcDriver(TOLEDBProvider::prCompact, both);
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Required provider is not installed");
  }
  try {
    ChooseOdbcDriver(static_cast<TOLEDBProvider>(9), both);
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Wrong provider name");
  }
}

// A workstation without a SQL Server driver is told which one to install, whichever provider
// the connection string names and whatever other drivers it has.
TEST(DriverChoiceTest, NoSqlServerDriverNamesTheOneToInstall) {
#ifdef _WIN32
  const std::string expected = "Required provider is not installed: ODBC Driver 18 for SQL Server";
#else
  const std::string expected = "Required provider is not installed: FreeTDS";
#endif
  const std::vector<std::vector<std::string>> workstations = {
      {}, {"PostgreSQL", "Microsoft Access Driver (*.mdb)"}, {"ODBC Driver 18 for SQL"}};
  for (TOLEDBProvider p :
       {TOLEDBProvider::prAuto, TOLEDBProvider::prSQL, TOLEDBProvider::prNativeClient}) {
    for (const std::vector<std::string>& installed : workstations) {
      try {
        ChooseOdbcDriver(p, installed);
        ADD_FAILURE() << installed.size() << " drivers";
      } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), expected);
      }
    }
  }
}

TEST(DriverConnectStringTest, FreeTdsGetsHostAndPortApartAndLoginRules) {
  TConnectSettings s;
  s.Server = "127.0.0.1,50123";
  s.Database = "JAIL";
  s.Username = "sa";
  s.Password = "x;Driver={evil}";
  EXPECT_EQ(BuildOdbcConnectionString(s, "FreeTDS", "Bunkmere", "1.4.2"),
            "Driver=FreeTDS;Server=127.0.0.1;Port=50123;Database=JAIL;UID=sa;"
            "PWD={x;Driver={evil}}};APP=Bunkmere;TDS_Version=7.4;ClientCharset=UTF-8;"
            "Encryption=request;");

  TConnectSettings empty;  // "(local)", and the SQL Server login "sa" without a password
  EXPECT_EQ(BuildOdbcConnectionString(empty, "FreeTDS", "app"),
            "Driver=FreeTDS;Server=localhost;UID=sa;PWD=;APP=app;TDS_Version=7.4;"
            "ClientCharset=UTF-8;Encryption=request;");

  TConnectSettings win;
  win.Server = "SRV";
  win.Port = 1500;
  win.Authentication = TMSAuthentication::auWindows;
  win.ApplicationName = "Mine";
  win.WorkstationID = "WS1";
  EXPECT_EQ(BuildOdbcConnectionString(win, "ODBC Driver 18 for SQL Server", "app"),
            "Driver=ODBC Driver 18 for SQL Server;Server=SRV,1500;Trusted_Connection=Yes;APP=Mine;"
            "WSID=WS1;Encrypt=no;TrustServerCertificate=yes;");
}

// The local machine's names reach these drivers as "localhost", also before a named instance.
TEST(DriverConnectStringTest, LocalMachineNamesKeepTheirInstance) {
  struct TCase {
    const char* Server;
    int Port;
    const char* FreeTds;    // the server pairs FreeTDS gets
    const char* Microsoft;  // and Microsoft's driver
  };
  const TCase cases[] = {
      {"(local)", 1433, "Server=localhost;", "Server=localhost;"},
      {".", 1433, "Server=localhost;", "Server=localhost;"},
      {"(LOCAL)\\JAIL", 1433, "Server=localhost\\JAIL;", "Server=localhost\\JAIL;"},
      {".\\JAIL", 1433, "Server=localhost\\JAIL;", "Server=localhost\\JAIL;"},
      // FreeTDS is not handed an instance and a port at once: the port wins, as it does for
      // Microsoft's drivers.
      {".\\JAIL", 1500, "Server=localhost;Port=1500;", "Server=localhost\\JAIL,1500;"},
      {"SRV\\JAIL", 1433, "Server=SRV\\JAIL;", "Server=SRV\\JAIL;"},
      {"..\\JAIL", 1433, "Server=..\\JAIL;", "Server=..\\JAIL;"},
  };
  for (const TCase& c : cases) {
    TConnectSettings s;
    s.Server = c.Server;
    s.Port = c.Port;
    const std::string freeTds = BuildOdbcConnectionString(s, "FreeTDS", "app");
    const std::string microsoft =
        BuildOdbcConnectionString(s, "ODBC Driver 18 for SQL Server", "app");
    EXPECT_EQ(freeTds.substr(0, freeTds.find("UID=")), std::string("Driver=FreeTDS;") + c.FreeTds)
        << c.Server;
    EXPECT_EQ(microsoft.substr(0, microsoft.find("UID=")),
              std::string("Driver=ODBC Driver 18 for SQL Server;") + c.Microsoft)
        << c.Server;
  }
}

TEST(OdbcErrorTest, DriverPrefixesAreCutServerTextKept) {
  EXPECT_EQ(odbc::StripDriverPrefixes("[FreeTDS][SQL Server]Invalid object name 'X'."),
            "Invalid object name 'X'.");
  EXPECT_EQ(odbc::StripDriverPrefixes("[unixODBC][Driver Manager]Data source name not found"),
            "Data source name not found");
  EXPECT_EQ(odbc::StripDriverPrefixes(
                "[Microsoft][ODBC Driver 18 for SQL Server][SQL Server]Login failed"),
            "Login failed");
  EXPECT_EQ(odbc::StripDriverPrefixes("[CFGCELL] is locked"), "[CFGCELL] is locked");
}

}  // namespace
}  // namespace bunkmere
