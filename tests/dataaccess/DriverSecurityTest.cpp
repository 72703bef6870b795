// What each driver receives for the site's encryption, certificate and network settings, and
// the settings a driver cannot honour, refused with the change to make in the site file.

#include <gtest/gtest.h>

#include <string>

#include "core/Exceptions.h"
#include "dataaccess/ConnectSettings.h"
#include "dataaccess/ServerConnectString.h"

namespace bunkmere {
namespace {

constexpr const char* kFreeTds = "FreeTDS";
constexpr const char* kDriver18 = "ODBC Driver 18 for SQL Server";
constexpr const char* kDriver17 = "ODBC Driver 17 for SQL Server";

TDriverConnection Build(const char* ASite, const char* ADriver, const char* AVersion) {
  TConnectSettings s;
  ApplyConnectString(s, std::string("User ID=u;Password=pw;") + ASite);
  return BuildDriverConnection(s, ADriver, "app", AVersion);
}

TEST(DriverSecurityTest, EachSettingReachesTheDriverOrIsRefused) {
  struct TCase {
    const char* Site;
    const char* Driver;
    const char* Version;
    const char* Has;    // in the connection string (or, with "conf:", in FreeTDS's section)
    const char* Lacks;  // not in the connection string
    const char* Error;  // part of the refusal; empty when the connect goes ahead
  };
  const TCase cases[] = {
      // Not asked: what the OLE DB providers did.
      {"Data Source=srv", kFreeTds, "1.3.17", "Server=srv;", "Servername", ""},
      {"Data Source=srv", kFreeTds, "1.3.17", "Encryption=request;", "", ""},
      {"Data Source=srv;Encrypt=no", kDriver18, "", "Encrypt=no;TrustServerCertificate=yes;", "",
       ""},
      {"Data Source=srv;Encrypt=Optional", kDriver18, "", "Encrypt=no;TrustServerCertificate=yes;",
       "", ""},
      {"Data Source=srv", kDriver17, "", "Encrypt=no;TrustServerCertificate=yes;", "", ""},
      // Asked, without validation.
      {"Data Source=srv;Encrypt=True;TrustServerCertificate=True", kFreeTds, "1.3.17",
       "Server=srv;", "Servername", ""},
      {"Data Source=srv;Encrypt=True;TrustServerCertificate=True", kFreeTds, "1.3.17",
       "Encryption=require;", "", ""},
      {"Data Source=srv;Encrypt=yes;TrustServerCertificate=True", kDriver18, "",
       "Encrypt=yes;TrustServerCertificate=yes;", "", ""},
      // Asked, validated.
      {"Data Source=srv;Encrypt=True", kFreeTds, "1.3.17", "Servername=bunkmere-",
       "Encryption=", ""},
      {"Data Source=srv;Encrypt=Mandatory", kFreeTds, "1.3.17", "conf:ca file = system\n", "", ""},
      {"Data Source=srv;Encrypt=True", kFreeTds, "1.3.17", "conf:check certificate hostname = yes",
       "", ""},
      {"Data Source=srv,1500;Encrypt=True;CA File=/etc/site/ca.pem", kFreeTds, "1.3.17",
       "conf:\thost = srv\n\tport = 1500\n\ttds version = 7.4\n\tencryption = require\n\tca file = "
       "/etc/site/ca.pem\n",
       "", ""},
      {"Data Source=srv;Encrypt=True;Host Name In Certificate=SRV", kFreeTds, "1.3.17",
       "Servername=", "", ""},
      {"Data Source=10.0.0.5;Encrypt=True;Host Name In Certificate=db.example", kFreeTds, "1.3.17",
       "", "", "cannot check it against Host Name In Certificate=db.example"},
      {"Data Source=srv;Encrypt=True;CA File=\"/tmp/a\nca file = system\"", kFreeTds, "1.3.17", "",
       "", "holds a line break"},
      {"Data Source=srv;Encrypt=True", kDriver18, "", "Encrypt=yes;", "TrustServerCertificate", ""},
      {"Data Source=10.0.0.5;Encrypt=True;Host Name In Certificate=db.example", kDriver18, "",
       "Encrypt=yes;HostNameInCertificate=db.example;", "", ""},
      {"Data Source=srv;Encrypt=True;Host Name In Certificate=db.example", kDriver17, "", "", "",
       "Host Name In Certificate needs Microsoft's ODBC Driver 18"},
      {"Data Source=srv;Encrypt=True;CA File=/etc/site/ca.pem", kDriver18, "", "", "",
       "cannot be handed CA File=/etc/site/ca.pem"},
      // Strict (TDS 8.0).
      {"Data Source=srv;Encrypt=Strict", kDriver18, "", "Encrypt=strict;", "Trust", ""},
      {"Data Source=srv;Encrypt=Strict;TrustServerCertificate=True", kDriver18, "",
       "Encrypt=strict;", "Trust", ""},
      {"Data Source=srv;Encrypt=Strict", kDriver17, "", "", "",
       "Encrypt=Strict (TDS 8.0) needs Microsoft's ODBC Driver 18"},
      {"Data Source=srv;Encrypt=Strict", kFreeTds, "1.3.17", "", "",
       "cannot be spoken by FreeTDS 1.3.17; FreeTDS 1.5 or later, or Microsoft's ODBC Driver 18"},
      {"Data Source=srv;Encrypt=Strict", kFreeTds, "1.5.2", "conf:encryption = strict", "", ""},
      // Network settings.
      {"Data Source=srv;Network Library=DBNMPNTW", kFreeTds, "1.3.17", "", "",
       "over TCP only, and the site file asks for named pipes"},
      {"Data Source=\"np:srv\"", kFreeTds, "1.3.17", "", "", "named pipes"},
      {"Data Source=srv;Network Library=DBMSSOCN", kFreeTds, "1.3.17", "Server=srv;", "", ""},
      {"Data Source=\"tcp:srv,1500\"", kFreeTds, "1.3.17", "Server=srv;Port=1500;", "tcp:", ""},
      {"Data Source=\"tcp:srv,1500\"", kDriver18, "", "Server=tcp:srv,1500;", "", ""},
      {"Data Source=srv\\INST,1500", kFreeTds, "1.3.17", "Server=srv;Port=1500;", "INST", ""},
      {"Data Source=srv\\INST", kFreeTds, "1.3.17", "Server=srv\\INST;", "Port", ""},
      {"Data Source=srv;Failover Partner=mirror", kFreeTds, "1.3.17", "", "",
       "FreeTDS has no failover partner"},
      {"Data Source=srv;Failover Partner=mirror", kDriver18, "", "Failover_Partner=mirror;", "",
       ""},
      {"Data Source=srv;MARS=True;Application Intent=ReadOnly", kFreeTds, "1.3.17",
       "MARS_Connection=Yes;ApplicationIntent=ReadOnly;", "", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Site) + " / " + c.Driver);
    std::string error = c.Error;
#ifdef _WIN32
    // FreeTDS on Windows cannot be handed the authorities to trust: a connection that asks for
    // a validated certificate is refused there, unless an earlier refusal says more.
    const std::string site = c.Site;
    const bool validated = std::string(c.Driver) == kFreeTds &&
                           site.find("TrustServerCertificate=True") == std::string::npos &&
                           (site.find("Encrypt=True") != std::string::npos ||
                            site.find("Encrypt=Mandatory") != std::string::npos ||
                            site.find("Encrypt=Strict") != std::string::npos);
    if (validated && error.find("cannot be spoken") == std::string::npos) {
      try {
        Build(c.Site, c.Driver, c.Version);
        ADD_FAILURE() << "connects, expected a refusal";
      } catch (const EDatabaseError& e) {
        const std::string text = e.what();
        EXPECT_TRUE(text.find("FreeTDS on Windows cannot be told") != std::string::npos ||
                    (!error.empty() && text.find(error) != std::string::npos))
            << text;
      }
      continue;
    }
#endif
    if (!error.empty()) {
      try {
        Build(c.Site, c.Driver, c.Version);
        ADD_FAILURE() << "connects, expected a refusal";
      } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find(error), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("Cannot connect to SQL Server"), std::string::npos);
        EXPECT_EQ(std::string(e.what()).find("pw"), std::string::npos) << e.what();
      }
      continue;
    }
    const TDriverConnection r = Build(c.Site, c.Driver, c.Version);
    std::string has = c.Has;
    if (has.starts_with("conf:")) {
      EXPECT_NE(r.FreeTdsConfig.find(has.substr(5)), std::string::npos) << r.FreeTdsConfig;
    } else {
      EXPECT_NE(r.ConnectionString.find(has), std::string::npos) << r.ConnectionString;
    }
    if (*c.Lacks != '\0') {
      EXPECT_EQ(r.ConnectionString.find(c.Lacks), std::string::npos) << r.ConnectionString;
    }
    // The section a connection string names is the one its configuration holds.
    if (!r.FreeTdsSection.empty()) {
      EXPECT_NE(r.ConnectionString.find("Servername=" + r.FreeTdsSection + ";"), std::string::npos);
      EXPECT_TRUE(r.FreeTdsConfig.starts_with("[" + r.FreeTdsSection + "]\n"));
    }
  }
}

TEST(DriverSecurityTest, WeakLinksAreFlaggedForTheSiteCheck) {
  EXPECT_TRUE(Build("Data Source=srv", kFreeTds, "1.3.17").Weak);
  EXPECT_TRUE(
      Build("Data Source=srv;Encrypt=True;TrustServerCertificate=True", kDriver18, "").Weak);
  EXPECT_FALSE(Build("Data Source=srv;Encrypt=True", kDriver18, "").Weak);
#ifndef _WIN32
  EXPECT_FALSE(Build("Data Source=srv;Encrypt=True", kFreeTds, "1.3.17").Weak);
  EXPECT_EQ(Build("Data Source=srv;Encrypt=True;CA File=/s/ca.pem", kFreeTds, "1.3.17").Validation,
            "validated against the authorities in /s/ca.pem, for the name srv");
#else
  // Refused there instead (above): it never connects unvalidated.
  EXPECT_THROW(Build("Data Source=srv;Encrypt=True", kFreeTds, "1.3.17"), EDatabaseError);
#endif
}

// FreeTDS before 1.4 reads a braced value up to the first "};" and keeps a "}" as it is; 1.4
// and later read "}}" as one "}". A password must log in either way, or be refused saying why.
TEST(DriverSecurityTest, PasswordsAreWrittenAsTheInstalledFreeTdsReadsThem) {
  struct TCase {
    const char* Password;
    const char* Version;
    const char* Pwd;    // what the driver receives
    const char* Error;  // or the refusal
  };
  const TCase cases[] = {
      {"plain", "", "PWD=plain;", ""},
      {"a}b", "", "PWD=a}b;", ""},  // no braces needed: every version reads it alike
      {"a=}b", "1.3.17", "PWD=a=}b;", ""},
      {"{a", "1.3.17", "PWD={{a};", ""},
      {"a;b}", "1.3.17", "PWD={a;b}};", ""},
      {"a;b}", "1.4.0", "PWD={a;b}}};", ""},
      {"a;}b", "1.3.17", "PWD={a;}b};", ""},
      {"a};b", "1.3.17", "", "FreeTDS 1.3.17 cannot carry a password holding \"};\""},
      {"a};b", "1.4.1", "PWD={a}};b};", ""},
      {"a;b}", "", "", "cannot be read here"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Password);
    TConnectSettings s;
    s.Server = "srv";
    s.Username = "u";
    s.Password = c.Password;
    if (*c.Error != '\0') {
      try {
        BuildDriverConnection(s, kFreeTds, "app", c.Version);
        ADD_FAILURE() << "accepted";
      } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find(c.Error), std::string::npos) << e.what();
        EXPECT_EQ(std::string(e.what()).find(c.Password), std::string::npos) << e.what();
      }
      continue;
    }
    EXPECT_NE(BuildDriverConnection(s, kFreeTds, "app", c.Version)
                  .ConnectionString.find(std::string(";") + c.Pwd),
              std::string::npos)
        << BuildDriverConnection(s, kFreeTds, "app", c.Version).ConnectionString;
  }
}

}  // namespace
}  // namespace bunkmere
