// PRELOGIN's ENCRYPTION as SQL Server answers it, and the stand-in's refusals: a LOGIN7 in the
// clear where encryption was required, a client that skips or breaks the handshake. The
// session record says what happened.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "standin/tds/Prelogin.h"
#include "standin/testing/StatementLogReader.h"
#include "standin/testing/TestCertificates.h"
#include "tests/standin/TdsTestClient.h"

namespace standin::test {
namespace {

using namespace standin::tds;

TEST(StandinEncryption, AnswersAsSqlServerDoes) {
  struct TCase {
    EncryptionMode Mode;
    std::uint8_t Client, Answer;
    Protection Result;
  };
  const TCase cases[] = {
      {EncryptionMode::NotSupported, kEncryptOff, kEncryptNotSup, Protection::None},
      {EncryptionMode::NotSupported, kEncryptReq, kEncryptNotSup, Protection::None},
      {EncryptionMode::Off, kEncryptOff, kEncryptOff, Protection::LoginOnly},
      {EncryptionMode::Off, kEncryptOn, kEncryptOn, Protection::All},
      {EncryptionMode::Off, kEncryptReq, kEncryptOn, Protection::All},
      {EncryptionMode::Off, kEncryptNotSup, kEncryptNotSup, Protection::None},
      {EncryptionMode::On, kEncryptOff, kEncryptOn, Protection::All},
      {EncryptionMode::On, kEncryptNotSup, kEncryptReq, Protection::None},
      {EncryptionMode::Required, kEncryptOff, kEncryptReq, Protection::All},
      {EncryptionMode::Required, kEncryptOn, kEncryptReq, Protection::All},
      {EncryptionMode::Required, kEncryptNotSup, kEncryptReq, Protection::None},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.Mode)) + "/" + std::to_string(c.Client));
    EXPECT_EQ(AnswerEncryption(c.Mode, c.Client), c.Answer);
    EXPECT_EQ(NegotiatedProtection(c.Client, c.Answer), c.Result);
  }
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A client that does not do what its PRELOGIN promised is turned away before any login, and
// the server goes on serving others.
TEST(StandinEncryption, RefusesWhatSkipsTheEncryptionItNegotiated) {
  struct TCase {
    const char* Name;
    EncryptionMode Mode;
    std::uint8_t Client;
    bool GarbageHandshake;  // else: LOGIN7 in the clear right after PRELOGIN (or instead)
    const char* Outcome;
  };
  const TCase cases[] = {
      {"clear login to a forcing server", EncryptionMode::Required, kEncryptNotSup, false,
       "refused: the login arrived in the clear"},
      {"PRELOGIN skipped, server forcing", EncryptionMode::Required, 0xFF, false,
       "refused: the login arrived in the clear"},
      {"handshake skipped", EncryptionMode::Off, kEncryptOff, false,
       "refused: a packet other than PRELOGIN during the TLS handshake"},
      {"handshake garbage", EncryptionMode::On, kEncryptOn, true, "refused: TLS handshake failed"},
  };
  const auto& certs = testing::TestCertificates::Shared();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string record = (std::filesystem::temp_directory_path() /
                                ("standin-sessions-" + std::to_string(::getpid()) + ".jsonl"))
                                   .string();
    ServerOptions options;
    options.encryption = c.Mode;
    options.tlsCertFile = certs.Server().cert;
    options.tlsKeyFile = certs.Server().key;
    options.sessionLogFile = record;
    {
      InProcessServer server(options);
      TdsTestClient client(server.Port());
      Bytes answer;
      if (c.Client != 0xFF) {  // 0xFF: no PRELOGIN at all, as TDS 7.0 clients do
        client.Send(PacketType::PreLogin, EncodePrelogin(ServerPrelogin(c.Client)));
        ASSERT_TRUE(client.ReadMessage(answer));
      }
      if (c.GarbageHandshake) {
        client.Send(PacketType::PreLogin, Bytes(64, 0x16));
      } else {
        // No password: nothing secret crosses in the clear, even here.
        client.Send(PacketType::Login7, EncodeLogin7(TdsTestClient::DefaultLogin("sa", "")));
      }
      EXPECT_TRUE(client.ClosedByServer());
      // The server goes on answering others.
      TdsTestClient other(server.Port());
      other.Send(PacketType::PreLogin, EncodePrelogin(ServerPrelogin(kEncryptOff)));
      EXPECT_TRUE(other.ReadMessage(answer));
    }
    const auto sessions = testing::ParseSessionLog(ReadAll(record));
    std::filesystem::remove(record);
    ASSERT_FALSE(sessions.empty());
    EXPECT_EQ(sessions[0].outcome.substr(0, std::string(c.Outcome).size()), c.Outcome);
    EXPECT_FALSE(sessions[0].loginEncrypted);
  }
}

}  // namespace
}  // namespace standin::test
