// The wire as sites run it: the stand-in's encryption modes and certificates against the site's
// settings, through the program's own connection and FreeTDS. The stand-in's record of each
// session says what travelled encrypted, so no case passes while a password crossed in the
// clear.

#include <gtest/gtest.h>

#include <string>

#include "MessageOf.h"
#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"
#include "standin/testing/StandinServer.h"
#include "tests/CannotRun.h"

namespace bunkmere::testing {
namespace {

using standin::testing::StandinOptions;
using standin::testing::StandinServer;
using TCert = StandinOptions::Certificate;

enum class TOutcome { LoginOnly, AllEncrypted, Refused };

struct TCase {
  const char* Name;
  const char* Mode;  // sqlstandin --encrypt
  TCert Cert;
  const char* Site;  // appended to the site's connection string; "{ca}": the test CA's file
  const char* Host;  // how the site names the server
  TOutcome Outcome;
  const char* Message;  // part of the refusal
};

std::string Expand(std::string AText, const std::string& AFrom, const std::string& ATo) {
  for (std::size_t at; (at = AText.find(AFrom)) != std::string::npos;)
    AText.replace(at, AFrom.size(), ATo);
  return AText;
}

TEST(EncryptionDbTest, ModesSettingsAndTrust) {
  if (!StandinServer::Available()) BUNKMERE_CANNOT_RUN("sqlstandin is not built");
  const TCase cases[] = {
      // Encryption not asked: what the OLE DB providers did, on every kind of server.
      {"default, server not forcing", "off", TCert::Server, "", "127.0.0.1", TOutcome::LoginOnly,
       ""},
      {"default, server forcing, self-signed", "required", TCert::SelfSigned, "", "127.0.0.1",
       TOutcome::AllEncrypted, ""},
      {"default, server encrypting all", "on", TCert::OtherName, "", "127.0.0.1",
       TOutcome::AllEncrypted, ""},
      // Asked: everything encrypted and the certificate validated.
      {"asked, trusted CA, by address", "off", TCert::Server, ";Encrypt=True;CA File={ca}",
       "127.0.0.1", TOutcome::AllEncrypted, ""},
      {"asked, trusted CA, by name", "required", TCert::Server, ";Encrypt=yes;CA File={ca}",
       "localhost", TOutcome::AllEncrypted, ""},
      {"asked, self-signed", "off", TCert::SelfSigned, ";Encrypt=True;CA File={ca}", "127.0.0.1",
       TOutcome::Refused, "certificate could not be validated against the authorities in"},
      {"asked, issued for another name", "off", TCert::OtherName, ";Encrypt=Mandatory;CA File={ca}",
       "localhost", TOutcome::Refused, "for the name localhost"},
      {"asked, authority only in the test's file", "off", TCert::Server, ";Encrypt=True",
       "127.0.0.1", TOutcome::Refused, "against the system's trusted authorities"},
      {"asked, trusted without validation", "off", TCert::SelfSigned,
       ";Encrypt=True;TrustServerCertificate=True", "127.0.0.1", TOutcome::AllEncrypted, ""},
      {"asked, name FreeTDS cannot check", "off", TCert::Server,
       ";Encrypt=True;CA File={ca};Host Name In Certificate=localhost", "127.0.0.1",
       TOutcome::Refused, "cannot check it against Host Name In Certificate=localhost"},
      {"asked, server without encryption", "notsup", TCert::Server,
       ";Encrypt=True;TrustServerCertificate=True", "127.0.0.1", TOutcome::Refused, ""},
      {"strict asked of FreeTDS", "off", TCert::Server, ";Encrypt=Strict;CA File={ca}", "127.0.0.1",
       TOutcome::Refused, "Strict (TDS 8.0) cannot be spoken by FreeTDS"},
      {"server accepting strict only", "strict", TCert::Server, "", "127.0.0.1", TOutcome::Refused,
       ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    StandinOptions options;
    options.encrypt = c.Mode;
    options.certificate = c.Cert;
    options.password = "Pw#Tls1";
    StandinServer server(options);
    TMSConnection conn(nullptr);
    conn.SetConnectString(std::string("Data Source=") + c.Host + "," +
                          std::to_string(server.Port()) + ";Initial Catalog=master;User ID=sa;" +
                          "Password=Pw#Tls1;Connect Timeout=5" +
                          Expand(c.Site, "{ca}", "\"" + StandinServer::CaFile() + "\""));
    conn.SetLoginPrompt(false);
    std::string failure;
    try {
      conn.Connect();
      conn.ExecSQL("SELECT 1");
    } catch (const Exception& e) {
      failure = e.Message();
    }
    const auto sessions = server.Sessions();
    // Whatever happened, no password crossed in the clear.
    for (const auto& s : sessions)
      EXPECT_TRUE(s.outcome != "logged in" || s.loginEncrypted) << s.spid;
    if (c.Outcome == TOutcome::Refused) {
      EXPECT_NE(failure, "") << "connected";
      EXPECT_NE(failure.find(c.Message), std::string::npos) << failure;
      EXPECT_EQ(failure.find("Pw#Tls1"), std::string::npos) << failure;
      for (const auto& s : sessions) EXPECT_NE(s.outcome, "logged in");
      continue;
    }
    ASSERT_EQ(failure, "");
    ASSERT_FALSE(sessions.empty());
    EXPECT_EQ(sessions.back().outcome, "logged in");
    EXPECT_TRUE(sessions.back().loginEncrypted);
    EXPECT_EQ(sessions.back().dataEncrypted, c.Outcome == TOutcome::AllEncrypted);
  }
}

// A password holding "}" and ";" logs in over the installed FreeTDS, written as its version
// reads it; one it cannot carry is refused, saying why, before anything is sent.
TEST(EncryptionDbTest, PasswordsWithBracesLogIn) {
  if (!StandinServer::Available()) BUNKMERE_CANNOT_RUN("sqlstandin is not built");
  struct TPassword {
    const char* Password;
    bool LogsIn;
  };
  const TPassword cases[] = {{"a}b", true}, {"a}b;c", true}, {"{x;y}}z", true}, {"p};q", false}};
  for (const TPassword& c : cases) {
    SCOPED_TRACE(c.Password);
    StandinOptions options;
    options.password = c.Password;
    StandinServer server(options);
    TMSConnection conn(nullptr);
    conn.SetConnectString("Data Source=127.0.0.1," + std::to_string(server.Port()) +
                          ";User ID=sa;Password=\"" + c.Password + "\"");
    conn.SetLoginPrompt(false);
    std::string failure;
    try {
      conn.Connect();
    } catch (const Exception& e) {
      failure = e.Message();
    }
    if (c.LogsIn) {
      EXPECT_EQ(failure, "");
      continue;
    }
    // Only a FreeTDS older than 1.4 cannot carry it; newer ones log in.
    if (failure.empty()) continue;
    EXPECT_NE(failure.find("cannot carry a password holding \"};\""), std::string::npos) << failure;
    EXPECT_EQ(failure.find(c.Password), std::string::npos) << failure;
    EXPECT_TRUE(server.Sessions().empty());
  }
}

}  // namespace
}  // namespace bunkmere::testing
