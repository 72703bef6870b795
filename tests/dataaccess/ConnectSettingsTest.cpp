#include "dataaccess/ConnectSettings.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/Exceptions.h"

namespace bunkmere {
namespace {

struct TReadCase {
  const char* Text;
  std::function<void(const TConnectSettings&)> Check;
};

TEST(ConnectStringTest, ReadsEveryKindOfName) {
  const TReadCase cases[] = {
      {"Data Source=SRV1;Initial Catalog=JAIL",
       [](const TConnectSettings& s) {
         EXPECT_EQ(s.Server, "SRV1");
         EXPECT_EQ(s.Database, "JAIL");
       }},
      {"host=a;database=b;uid=u;pwd=p",
       [](const TConnectSettings& s) {
         EXPECT_EQ(s.Server, "a");
         EXPECT_EQ(s.Database, "b");
         EXPECT_EQ(s.Username, "u");
         EXPECT_EQ(s.Password, "p");
       }},
      {"Network Address=x;User Name=y",
       [](const TConnectSettings& s) {
         EXPECT_EQ(s.Server, "x");
         EXPECT_EQ(s.Username, "y");
       }},
      {"Integrated Security=SSPI",
       [](const TConnectSettings& s) {
         EXPECT_EQ(s.Authentication, TMSAuthentication::auWindows);
       }},
      {"Trusted_Connection=True",
       [](const TConnectSettings& s) {
         EXPECT_EQ(s.Authentication, TMSAuthentication::auWindows);
       }},
      {"Integrated Security=0",
       [](const TConnectSettings& s) { EXPECT_EQ(s.Authentication, TMSAuthentication::auServer); }},
      {"Port=1500;Connect Timeout=30;Packet Size=8192",
       [](const TConnectSettings& s) {
         EXPECT_EQ(s.Port, 1500);
         EXPECT_EQ(s.ConnectionTimeout, 30);
         EXPECT_EQ(s.PacketSize, 8192);
       }},
      {"Login Prompt=False;Encrypt=True;MARS=1;Auto Translate=0",
       [](const TConnectSettings& s) {
         EXPECT_FALSE(s.LoginPrompt);
         EXPECT_TRUE(s.Encrypt);
         EXPECT_TRUE(s.MultipleActiveResultSets);
         EXPECT_FALSE(s.AutoTranslate);
       }},
      {"Application Intent=ReadOnly;WSID=ws;AppName=App;Current Language=us_english",
       [](const TConnectSettings& s) {
         EXPECT_EQ(s.ApplicationIntent, TApplicationIntent::aiReadOnly);
         EXPECT_EQ(s.WorkstationID, "ws");
         EXPECT_EQ(s.ApplicationName, "App");
         EXPECT_EQ(s.Language, "us_english");
       }},
      {"Pooling=True;Max Pool Size=5;MinPoolSize=1;Connection LifeTime=9;Validate Connection=1",
       [](const TConnectSettings& s) {
         EXPECT_TRUE(s.Pooling);
         EXPECT_EQ(s.MaxPoolSize, 5);
         EXPECT_EQ(s.MinPoolSize, 1);
         EXPECT_EQ(s.ConnectionLifeTime, 9);
         EXPECT_TRUE(s.ValidateConnection);
       }},
      {"Use Procedure for Prepare=1;Client Failover=x",
       [](const TConnectSettings& s) { EXPECT_EQ(s, TConnectSettings{}); }},
      // Quoted values lose their quotes and blanks and may hold any character.
      {"Server=\" a;b=c \";Database=\"[x]\"",
       [](const TConnectSettings& s) {
         EXPECT_EQ(s.Server, "a;b=c");
         EXPECT_EQ(s.Database, "[x]");
       }},
      // The password may hold characters other values may not, unquoted.
      {"Password=p{a}?ss:w", [](const TConnectSettings& s) { EXPECT_EQ(s.Password, "p{a}?ss:w"); }},
      {"  Server = a b ;  ;", [](const TConnectSettings& s) { EXPECT_EQ(s.Server, "a b"); }},
      // After a compact-edition provider, a data source names the database file.
      {"Provider=MICROSOFT.SQLSERVER.MOBILE.OLEDB.3.5;Data Source=\"c:\\db.sdf\"",
       [](const TConnectSettings& s) {
         EXPECT_EQ(s.Provider, TOLEDBProvider::prCompact);
         EXPECT_EQ(s.CompactVersion, TCompactVersion::cv35);
         EXPECT_EQ(s.Database, "c:\\db.sdf");
         EXPECT_EQ(s.Server, "");
       }},
      {"Data Source=SRV;Provider=SQLNCLI10.1",
       [](const TConnectSettings& s) {
         EXPECT_EQ(s.Server, "SRV");
         EXPECT_EQ(s.Provider, TOLEDBProvider::prNativeClient);
         EXPECT_EQ(s.NativeClientVersion, TNativeClientVersion::nc2008);
       }},
      {"provider=sqloledb.1",
       [](const TConnectSettings& s) { EXPECT_EQ(s.Provider, TOLEDBProvider::prSQL); }},
  };
  for (const TReadCase& c : cases) {
    SCOPED_TRACE(c.Text);
    TConnectSettings s;
    ApplyConnectString(s, c.Text);
    c.Check(s);
  }
}

TEST(ConnectStringTest, FailuresNameTheirCauseAndChangeNothing) {
  struct TCase {
    const char* Text;
    const char* Message;
    bool Conversion;
  };
  const TCase cases[] = {
      {"=x", "Connection parameter name missing", false},
      {"Server=a;  =b", "Connection parameter name missing", false},
      {"Server=a:b", "Invalid character ':' in non-quoted connection parameter value", false},
      {"Server=caf\xC3\xA9",
       "Invalid character '\xC3\xA9' in non-quoted connection parameter value", false},
      {"Server=a{b}", "Invalid character '{' in non-quoted connection parameter value", false},
      {"Server=a;SERVER=b", "Connection parameter cannot be added twice: SERVER", false},
      {"Servr=a", "Connection parameter name is unknown: Servr", false},
      {"Provider=SQLOLEDB", "Bad connection parameter value: Provider=SQLOLEDB", false},
      {"Integrated Security=sspi", "Bad connection parameter value: Integrated Security=sspi",
       false},
      {"Application Intent=Write", "Bad connection parameter value: Application Intent=Write",
       false},
      {"Port=abc", "'abc' is not a valid integer value", true},
      {"Encrypt=maybe", "'maybe' is not a valid boolean value", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    TConnectSettings s;
    s.Server = "keep";
    s.LoginPrompt = false;
    s.Provider = TOLEDBProvider::prSQL;
    const TConnectSettings before = s;
    try {
      ApplyConnectString(s, c.Text);
      ADD_FAILURE() << "no failure";
    } catch (const EConvertError& e) {
      EXPECT_TRUE(c.Conversion);
      EXPECT_EQ(e.Message(), c.Message);
    } catch (const EDatabaseError& e) {
      EXPECT_FALSE(c.Conversion);
      EXPECT_EQ(e.Message(), c.Message);
    }
    EXPECT_EQ(s, before);
  }
}

TEST(ConnectStringTest, ResetsTheConnectionStringSettingsButKeepsTheFourThatSurvive) {
  TConnectSettings s;
  s.Server = "old";
  s.Database = "db";
  s.Port = 1500;
  s.Authentication = TMSAuthentication::auWindows;
  s.LoginPrompt = false;
  s.Provider = TOLEDBProvider::prNativeClient;
  s.NativeClientVersion = TNativeClientVersion::nc2005;
  s.CompactVersion = TCompactVersion::cv30;
  s.ApplicationName = "App";
  s.WorkstationID = "WS";
  s.Encrypt = true;
  ApplyConnectString(s, "");
  TConnectSettings expected;
  expected.NativeClientVersion = TNativeClientVersion::nc2005;
  expected.CompactVersion = TCompactVersion::cv30;
  expected.ApplicationName = "App";
  expected.WorkstationID = "WS";
  EXPECT_EQ(s, expected);
}

TEST(ConnectStringTest, GeneratedTextReadsBackToTheSameSettings) {
  TConnectSettings s;
  EXPECT_EQ(GenerateConnectString(s), "");
  s.Server = "srv\\inst";
  s.Database = "JAIL";
  s.Username = "u";
  s.Password = "a;b";
  s.Port = 1500;
  s.ConnectionTimeout = 3;
  s.Authentication = TMSAuthentication::auWindows;
  s.LoginPrompt = false;
  s.Provider = TOLEDBProvider::prNativeClient;
  s.NativeClientVersion = TNativeClientVersion::nc2012;
  s.Language = "Deutsch";
  s.NetworkLibrary = "DBMSSOCN";
  s.ApplicationName = "App Name";
  s.WorkstationID = "ws";
  s.PacketSize = 8192;
  s.InitialFileName = "c:\\x.mdf";
  s.FailoverPartner = "mirror";
  s.PersistSecurityInfo = true;
  s.AutoTranslate = false;
  s.Encrypt = true;
  s.MultipleActiveResultSets = true;
  s.TrustServerCertificate = true;
  s.EncryptStrict = true;
  s.HostNameInCertificate = "db.example";
  s.CAFile = "/etc/site/ca.pem";
  s.ApplicationIntent = TApplicationIntent::aiReadOnly;
  s.ForceCreateDatabase = false;
  s.Pooling = true;
  s.MaxPoolSize = 7;
  s.MinPoolSize = 2;
  s.ConnectionLifeTime = 60;
  s.ValidateConnection = true;
  TConnectSettings read;
  ApplyConnectString(read, GenerateConnectString(s));
  EXPECT_EQ(read, s) << GenerateConnectString(s);

  // A compact edition's database survives the round trip beside the server name.
  TConnectSettings compact;
  compact.Server = "srv";
  compact.Database = "file.sdf";
  compact.Provider = TOLEDBProvider::prCompact;
  compact.CompactVersion = TCompactVersion::cv40;
  TConnectSettings back;
  ApplyConnectString(back, GenerateConnectString(compact));
  EXPECT_EQ(back, compact);
}

// The exact text a connection writes, set down by hand: a round trip alone would pass a name
// or a quoting rule that the writer and the reader both get wrong, and other programs of the
// family read these strings too.
TEST(ConnectStringTest, GeneratedTextIsExactlyTheFamilysText) {
  using A = TMSAuthentication;
  using P = TOLEDBProvider;
  struct TCase {
    const char* Name;
    std::function<void(TConnectSettings&)> Set;
    const char* Text;
  };
  const TCase cases[] = {
      {"defaults", [](TConnectSettings&) {}, ""},
      {"a site's SQL login",
       [](TConnectSettings& s) {
         s.Server = "127.0.0.1,50123";
         s.Database = "JAIL";
         s.Username = "sa";
         s.Password = "Standin#1";
         s.LoginPrompt = false;
       },
       "Data Source=127.0.0.1,50123;Initial Catalog=JAIL;User ID=sa;Password=Standin#1;"
       "Login Prompt=False"},
      {"Windows login through a named provider on a port",
       [](TConnectSettings& s) {
         s.Server = "SRV\\INST";
         s.Provider = P::prSQL;
         s.Port = 1500;
         s.Authentication = A::auWindows;
       },
       "Data Source=SRV\\INST;Provider=SQLOLEDB.1;Port=1500;Integrated Security=SSPI"},
      {"native client 2012",
       [](TConnectSettings& s) {
         s.Provider = P::prNativeClient;
         s.NativeClientVersion = TNativeClientVersion::nc2012;
       },
       "Provider=SQLNCLI11.1"},
      {"compact edition",
       [](TConnectSettings& s) {
         s.Provider = P::prCompact;
         s.CompactVersion = TCompactVersion::cv35;
         s.Database = "jail.sdf";
       },
       "Provider=MICROSOFT.SQLSERVER.MOBILE.OLEDB.3.5;Initial Catalog=jail.sdf"},
      {"texts",
       [](TConnectSettings& s) {
         s.Language = "Deutsch";
         s.NetworkLibrary = "DBMSSOCN";
         s.ApplicationName = "App Name";
         s.WorkstationID = "ws";
         s.FailoverPartner = "mirror";
         s.HostNameInCertificate = "db.example";
         s.CAFile = "/etc/site/ca.pem";
       },
       "Current Language=Deutsch;Network Library=DBMSSOCN;Application Name=App Name;"
       "Workstation ID=ws;Failover Partner=mirror;Host Name In Certificate=db.example;"
       "CA File=/etc/site/ca.pem"},
      {"numbers and switches away from their defaults",
       [](TConnectSettings& s) {
         s.ConnectionTimeout = 30;
         s.PacketSize = 8192;
         s.PersistSecurityInfo = true;
         s.AutoTranslate = false;
         s.Encrypt = true;
         s.MultipleActiveResultSets = true;
         s.TrustServerCertificate = true;
         s.ApplicationIntent = TApplicationIntent::aiReadOnly;
         s.ForceCreateDatabase = false;
         s.Pooling = true;
         s.ConnectionLifeTime = 60;
         s.MaxPoolSize = 7;
         s.MinPoolSize = 2;
         s.ValidateConnection = true;
       },
       "Connect Timeout=30;Packet Size=8192;Persist Security Info=True;Auto Translate=False;"
       "Encrypt=True;MultipleActiveResultSets=True;Trust Server Certificate=True;"
       "Application Intent=ReadOnly;Force Create Database=False;Pooling=True;"
       "Connection LifeTime=60;Max Pool Size=7;Min Pool Size=2;Validate Connection=True"},
      {"strict encryption", [](TConnectSettings& s) { s.EncryptStrict = s.Encrypt = true; },
       "Encrypt=Strict"},
      // Quoted: a separator, a quote (doubled), an outer blank, a character a bare value may
      // not hold. A password may hold any character bare but the separator and the quote.
      {"values that need quotes",
       [](TConnectSettings& s) {
         s.Server = "a;b";
         s.Database = "x\"y";
         s.Username = " u";
         s.Password = "p;w";
         s.InitialFileName = "c:\\x.mdf";
       },
       "Data Source=\"a;b\";Initial Catalog=\"x\"\"y\";User ID=\" u\";Password=\"p;w\";"
       "Initial File Name=\"c:\\x.mdf\""},
      {"a password bare with characters other values may not hold",
       [](TConnectSettings& s) { s.Password = "p=w{}"; }, "Password=p=w{}"},
      {"a password holding a quote", [](TConnectSettings& s) { s.Password = "a\"b"; },
       "Password=\"a\"\"b\""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TConnectSettings s;
    c.Set(s);
    EXPECT_EQ(GenerateConnectString(s), c.Text);
  }
}

TEST(ConnectStringTest, EncryptTakesTheWordsOtherClientsUse) {
  struct TCase {
    const char* Value;
    bool Encrypt, Strict;
  };
  const TCase cases[] = {
      {"True", true, false},      {"false", false, false}, {"1", true, false},
      {"yes", true, false},       {"NO", false, false},    {"Mandatory", true, false},
      {"optional", false, false}, {"Strict", true, true},  {"STRICT", true, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Value);
    TConnectSettings s;
    ApplyConnectString(s, std::string("Encrypt=") + c.Value);
    EXPECT_EQ(s.Encrypt, c.Encrypt);
    EXPECT_EQ(s.EncryptStrict, c.Strict);
    TConnectSettings back;
    ApplyConnectString(back, GenerateConnectString(s));
    EXPECT_EQ(back, s);
  }
  TConnectSettings s;
  ApplyConnectString(s, "Host Name In Certificate=db.example;CAFile=\"/etc/ca.pem\"");
  EXPECT_EQ(s.HostNameInCertificate, "db.example");
  EXPECT_EQ(s.CAFile, "/etc/ca.pem");
  ApplyConnectString(s, "HostNameInCertificate=x;CA File=y");
  EXPECT_EQ(s.HostNameInCertificate, "x");
  EXPECT_EQ(s.CAFile, "y");
}

// A password written without quotes is cut at its ";": whatever follows may be its tail, so no
// message may show it, whichever pair it lands in. Two passwords that differ only in their
// tails give the same message.
TEST(ConnectStringTest, NoMessageShowsAPasswordsTail) {
  struct TCase {
    const char* Template;  // %s: the tail
    const char* TailA;
    const char* TailB;
    bool Conversion;
  };
  const TCase cases[] = {
      {"Server=s;Password=ab;Port=%s", "cd", "zq", true},
      {"Server=s;PWD=ab;Encrypt=%s", "maybe", "perhaps", true},
      {"Server=s;PWD=ab;Connect Timeout=1x;Packet Size=%s", "cd", "zq", true},
      {"PWD=ab;Server=s;Port=%s", "cd", "zq", true},
      {"PWD=ab;Server=s;%s=1", "cd", "zq", false},
      {"PWD=ab;Server=s;Trust Server Certificate=%s", "cd", "zq", true},
      {"PWD=ab;Server=s;Application Intent=%s", "cd", "zq", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Template);
    std::string messages[2];
    const char* tails[2] = {c.TailA, c.TailB};
    for (int k = 0; k < 2; ++k) {
      std::string text = c.Template;
      text.replace(text.find("%s"), 2, tails[k]);
      try {
        TConnectSettings s;
        ApplyConnectString(s, text);
        ADD_FAILURE() << "no failure";
      } catch (const EConvertError& e) {
        EXPECT_TRUE(c.Conversion);
        messages[k] = e.Message();
      } catch (const EDatabaseError& e) {
        EXPECT_FALSE(c.Conversion);
        messages[k] = e.Message();
      }
      EXPECT_EQ(messages[k].find(tails[k]), std::string::npos) << messages[k];
    }
    EXPECT_EQ(messages[0], messages[1]);
  }
  // A quoted password ends where its quotes say: what follows is the site's own, and shown.
  try {
    TConnectSettings s;
    ApplyConnectString(s, "PWD=\"ab;cd\";Server=s;Port=1y");
    ADD_FAILURE() << "no failure";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'1y' is not a valid integer value");
  }
}

// Values holding the reader's own marks: each, in every text setting, with other pairs after it.
TEST(ConnectStringTest, QuotesAndSeparatorsInValuesReadBack) {
  const char* values[] = {
      "a\"b;c", "\"",    "\"\"", "x\"", "\"x", "\"x\"", ";", "a;\"b\";c", "p\"w;d=1;Server=evil",
      "a\"\"b", "=;\"=", "a b",
  };
  for (const char* v : values) {
    TConnectSettings s;
    s.Server = v;
    s.Database = v;
    s.Username = v;
    s.Password = v;
    s.Language = v;
    s.ApplicationName = v;
    s.LoginPrompt = false;  // written last: a pair after every text value
    TConnectSettings read;
    ApplyConnectString(read, GenerateConnectString(s));
    EXPECT_EQ(read, s) << v << " written as " << GenerateConnectString(s);
  }
}

TEST(ProviderStringTest, MapsBothWays) {
  using P = TOLEDBProvider;
  using N = TNativeClientVersion;
  using C = TCompactVersion;
  struct TCase {
    P Provider;
    N Native;
    C Compact;
    const char* Text;
  };
  const TCase forward[] = {
      {P::prAuto, N::ncAuto, C::cvAuto, "SQLOLEDB.1"},
      {P::prSQL, N::nc2012, C::cv30, "SQLOLEDB.1"},
      {P::prNativeClient, N::ncAuto, C::cvAuto, "SQLNCLI.1"},
      {P::prNativeClient, N::nc2005, C::cvAuto, "SQLNCLI.1"},
      {P::prNativeClient, N::nc2008, C::cvAuto, "SQLNCLI10.1"},
      {P::prNativeClient, N::nc2012, C::cvAuto, "SQLNCLI11.1"},
      {P::prCompact, N::ncAuto, C::cv30, "MICROSOFT.SQLSERVER.MOBILE.OLEDB.3.0"},
      {P::prCompact, N::ncAuto, C::cv35, "MICROSOFT.SQLSERVER.MOBILE.OLEDB.3.5"},
      {P::prCompact, N::ncAuto, C::cv40, "MICROSOFT.SQLSERVER.MOBILE.OLEDB.4.0"},
      {P::prCompact, N::ncAuto, C::cvAuto, "MICROSOFT.SQLSERVER.MOBILE.OLEDB.4.0"},
  };
  for (const TCase& c : forward) EXPECT_EQ(ProviderString(c.Provider, c.Native, c.Compact), c.Text);

  auto sel = ParseProviderString("sqlncli.1", N::nc2005);
  ASSERT_TRUE(sel);
  EXPECT_EQ(sel->Provider, P::prNativeClient);
  EXPECT_EQ(sel->NativeClientVersion, N::nc2005);
  sel = ParseProviderString("SQLNCLI.1", N::nc2012);
  EXPECT_EQ(sel->NativeClientVersion, N::ncAuto);
  sel = ParseProviderString("SQLNCLI11.1", N::ncAuto);
  EXPECT_EQ(sel->NativeClientVersion, N::nc2012);
  sel = ParseProviderString("Microsoft.SQLSERVER.MOBILE.OLEDB.3.0", N::ncAuto);
  EXPECT_EQ(sel->Provider, P::prCompact);
  EXPECT_EQ(sel->CompactVersion, C::cv30);
  EXPECT_FALSE(ParseProviderString("MSOLEDBSQL", N::ncAuto));
  EXPECT_FALSE(ParseProviderString("", N::ncAuto));
}

}  // namespace
}  // namespace bunkmere
