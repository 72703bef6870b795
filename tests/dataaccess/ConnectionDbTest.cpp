// A connection against a real server process: connect steps, statements after login,
// ExecSQL, the open-connection rule and failures carrying the server's text.

#include <gtest/gtest.h>

#ifndef _WIN32
#include "tests/SilentPort.h"
#endif

#include "MessageOf.h"

#include "JailScript.h"
#include "TestServer.h"
#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSTable.h"
#include "tests/CannotRun.h"

namespace bunkmere::testing {
namespace {

class ConnectionDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FServer = std::make_unique<TTestServer>(kJailScript, kJailTables);
    if (!FServer->Usable())
      BUNKMERE_CANNOT_RUN("no sqlstandin built and BUNKMERE_TEST_MSSQL not set");
  }
  std::unique_ptr<TTestServer> FServer;
};

TEST_F(ConnectionDbTest, SessionSettingsFollowTheLogin) {
  struct TCase {
    int LockTimeout;
    bool QuotedIdentifier;
    std::vector<std::string> Sent;
  };
  const TCase cases[] = {
      {2000, true, {"SET LOCK_TIMEOUT 2000"}},
      {-1, true, {}},
      {0, true, {}},
      {5000, false, {"SET QUOTED_IDENTIFIER OFF", "SET LOCK_TIMEOUT 5000"}},
  };
  if (!FServer->HasLog()) GTEST_SKIP() << "needs the stand-in's statement log";
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.LockTimeout);
    auto conn = FServer->NewConnection();
    conn->Options().SetDefaultLockTimeout(c.LockTimeout);
    conn->Options().SetQuotedIdentifier(c.QuotedIdentifier);
    std::size_t mark = FServer->Mark();
    conn->Connect();
    EXPECT_TRUE(conn->Connected());
    EXPECT_EQ(FServer->SqlSince(mark), c.Sent);
  }
}

TEST_F(ConnectionDbTest, AnEmptyDatabaseIsFilledFromTheServer) {
  auto conn = FServer->NewConnection();
  conn->SetDatabase("");
  conn->Connect();
  EXPECT_FALSE(conn->Database().empty());
  auto named = FServer->NewConnection();
  named->Connect();
  EXPECT_NE(named->Database(), "");
}

TEST_F(ConnectionDbTest, APortIsAppendedToTheServerName) {
  if (!FServer->HasLog()) GTEST_SKIP() << "the stand-in's port is the one this checks";
  auto conn = FServer->NewConnection();  // Server "127.0.0.1", Port the stand-in's
  ASSERT_NE(conn->Port(), 1433);
  conn->Connect();
  EXPECT_TRUE(conn->Connected());
  // A server name that already holds a port wins over the Port property.
  auto named = FServer->NewConnection();
  named->SetServer("127.0.0.1," + std::to_string(named->Port()));
  named->SetPort(1);
  named->Connect();
  EXPECT_TRUE(named->Connected());
}

#ifndef _WIN32  // the silent port below is made with POSIX sockets
// A connect that fails says which server and database it tried and why, in plain words, not
// the driver's; a login the server refuses keeps the server's text. The password never shows.
TEST_F(ConnectionDbTest, AFailedConnectNamesTheServerAndTheCause) {
  // A port that accepts connections and never answers them: the login time-out runs out.
  const TSilentPort silent;
  const std::string silentServer = silent.Server();

  struct Case {
    const char* What;
    std::string Server;
    std::string Message;
  } cases[] = {
      {"nothing listens", "127.0.0.1,1",
       "Cannot connect to SQL Server 127.0.0.1,1 (database JAIL): the server did not answer "
       "(connection refused)"},
      {"nobody answers", silentServer,
       "Cannot connect to SQL Server " + silentServer +
           " (database JAIL): the server did not answer within the login time-out"},
      {"no such host", "no-such-host.invalid,1433",
       "Cannot connect to SQL Server no-such-host.invalid,1433 (database JAIL): the server's name "
       "is not known (no such host)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    auto conn = FServer->NewConnection();
    conn->SetServer(c.Server);
    conn->SetDatabase("JAIL");
    conn->SetPassword("does not exist");
    conn->SetConnectionTimeout(2);
    EXPECT_EQ(MessageOf([&] { conn->Connect(); }), c.Message);
    EXPECT_FALSE(conn->Connected());
  }

  if (!FServer->HasLog()) return;  // a real server's logins are not ours to refuse
  auto refused = FServer->NewConnection();
  refused->SetPassword("wrong");
  EXPECT_EQ(MessageOf([&] { refused->Connect(); }),
            "Login failed for user '" + refused->Username() + "'.");
}
#endif

TEST_F(ConnectionDbTest, ExecSqlSendsTheTextAsItIsAndCountsRows) {
  auto conn = FServer->NewConnection();
  conn->Options().SetDefaultLockTimeout(-1);
  std::size_t mark = FServer->Mark();
  const std::string sql = "UPDATE CFGBED SET AVAILABLE = 0 WHERE BEDDESC = ':x' OR CELLKEY = 1";
  EXPECT_EQ(conn->ExecSQL(sql), 2);  // connects implicitly first
  EXPECT_TRUE(conn->Connected());
  if (FServer->HasLog()) {
    auto sent = FServer->Since(mark);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Sql, sql);
    EXPECT_TRUE(sent[0].Batch);
  }
  EXPECT_EQ(conn->ExecSQL("UPDATE CFGBED SET AVAILABLE = :a WHERE BEDNO = :n",
                          {TDbValue::Boolean(true), TDbValue::Integer(2)}),
            1);
}

TEST_F(ConnectionDbTest, ServerErrorsCarryTheServersOwnText) {
  auto conn = FServer->NewConnection();
  std::string msg = MessageOf([&] { conn->ExecSQL("SELECT * FROM NO_SUCH_TABLE"); });
  EXPECT_NE(msg.find("NO_SUCH_TABLE"), std::string::npos) << msg;
  EXPECT_NE(msg.front(), '[') << msg;
  // The connection is still usable after a failed statement.
  EXPECT_EQ(conn->ExecSQL("UPDATE PKONLY SET B = 'x' WHERE A = 1"), 1);

  auto bad = FServer->NewConnection();
  bad->SetPassword("wrong");
  msg = MessageOf([&] { bad->Connect(); });
  EXPECT_NE(msg.find("Login failed"), std::string::npos) << msg;
  EXPECT_FALSE(bad->Connected());
}

TEST_F(ConnectionDbTest, SomeOptionsCannotChangeOnAnOpenConnection) {
  auto conn = FServer->NewConnection();
  conn->Connect();
  const std::string open = "Cannot perform this operation on an open connection";
  EXPECT_EQ(MessageOf([&] { conn->Options().SetProvider(TOLEDBProvider::prSQL); }), open);
  EXPECT_EQ(MessageOf([&] { conn->Options().SetDefaultLockTimeout(5); }), open);
  EXPECT_EQ(
      MessageOf([&] { conn->Options().SetNativeClientVersion(TNativeClientVersion::nc2008); }),
      open);
  EXPECT_EQ(conn->Options().Provider(), TOLEDBProvider::prAuto);
  EXPECT_EQ(conn->Options().DefaultLockTimeout(), 2000);
  EXPECT_TRUE(conn->Connected());
  // In the form designer the connection closes and takes the change.
  conn->SetDesigning(true);
  conn->Options().SetDefaultLockTimeout(5);
  EXPECT_FALSE(conn->Connected());
  EXPECT_EQ(conn->Options().DefaultLockTimeout(), 5);
}

TEST_F(ConnectionDbTest, DatasetsConnectImplicitlyAndCloseWithTheConnection) {
  auto conn = FServer->NewConnection();
  TMSTable table(nullptr);
  table.SetConnection(conn.get());
  table.SetTableName("CFGFACI");
  table.Open();
  EXPECT_TRUE(conn->Connected());
  conn->Disconnect();
  EXPECT_FALSE(table.Active());

  conn->Options().SetAllowImplicitConnect(false);
  EXPECT_EQ(MessageOf([&] { table.Open(); }), "Connection is not opened");
  conn.reset();
  EXPECT_EQ(table.Connection(), nullptr);
}

}  // namespace
}  // namespace bunkmere::testing
