// sqlstandin's TLS against tedious, a client nobody here wrote that speaks both TDS 7.x (TLS
// inside PRELOGIN) and TDS 8.0 (TLS first, ALPN "tds/8.0"), which FreeTDS 1.3 cannot. The
// stand-in's session record says what travelled encrypted.

#include <gtest/gtest.h>

#include <string>

#include "standin/testing/StandinServer.h"
#include "tests/CannotRun.h"
#include "tests/ChildProcess.h"

namespace {

using bunkmere::testing::RunProcess;
using standin::testing::StandinOptions;
using standin::testing::StandinServer;
using TCert = StandinOptions::Certificate;

TEST(StandinTls, TediousInEveryMode) {
  if (!StandinServer::Available()) BUNKMERE_CANNOT_RUN("sqlstandin is not built");
  struct TCase {
    const char* Name;
    const char* Mode;
    TCert Cert;
    const char* Encrypt;  // tedious's encrypt option
    bool WithCa;          // validate against the test CA (else: trust unvalidated)
    bool Connects;
    bool Strict;  // the session record's TDS 8.0 flag
    bool DataEncrypted;
  };
  const TCase cases[] = {
      {"strict server, strict client", "strict", TCert::Server, "strict", true, true, true, true},
      {"any server takes a strict client", "off", TCert::Server, "strict", true, true, true, true},
      {"strict client, self-signed", "strict", TCert::SelfSigned, "strict", true, false, false,
       false},
      {"strict client, another name", "off", TCert::OtherName, "strict", true, false, false, false},
      {"strict server, TDS 7 client", "strict", TCert::Server, "true", true, false, false, false},
      {"TDS 7 client asking encryption", "off", TCert::Server, "true", true, true, false, true},
      {"TDS 7 client, server forcing", "required", TCert::SelfSigned, "true", false, true, false,
       true},
      {"client refusing encryption, server forcing", "required", TCert::Server, "false", false,
       false, false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    StandinOptions options;
    options.encrypt = c.Mode;
    options.certificate = c.Cert;
    StandinServer server(options);
    auto [status, out] =
        RunProcess({"node", STANDIN_CLIENTS_DIR "/tedious_check.js", server.Host(),
                    std::to_string(server.Port()), server.User(), server.Password(), c.Encrypt,
                    c.WithCa ? StandinServer::CaFile() : ""},
                   "", {"NODE_PATH=" STANDIN_CLIENTS_DIR "/node_modules"});
    const auto sessions = server.Sessions();
    for (const auto& s : sessions) EXPECT_TRUE(s.outcome != "logged in" || s.loginEncrypted);
    if (!c.Connects) {
      EXPECT_NE(status, 0) << out;
      EXPECT_EQ(out.find("CONNECTED"), std::string::npos) << out;
      for (const auto& s : sessions) EXPECT_NE(s.outcome, "logged in");
      continue;
    }
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("CONNECTED tlsok"), std::string::npos) << out;
    ASSERT_EQ(sessions.size(), 1u) << out;
    EXPECT_EQ(sessions[0].outcome, "logged in");
    EXPECT_EQ(sessions[0].strict, c.Strict);
    EXPECT_TRUE(sessions[0].loginEncrypted);
    EXPECT_EQ(sessions[0].dataEncrypted, c.DataEncrypted);
    EXPECT_FALSE(sessions[0].tls.empty());
  }
}

}  // namespace
