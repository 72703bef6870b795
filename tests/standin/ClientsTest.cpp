// sqlstandin against clients nobody here wrote: FreeTDS's tsql and bsqldb, and Python's pytds.
// Each logs in, creates and fills a table, reads typed values back (NULLs, CHAR padding), and
// proves the global temporary table rules with two sessions.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "standin/testing/StandinServer.h"
#include "tests/CannotRun.h"
#include "tests/ChildProcess.h"

namespace standin::test {
namespace {

using bunkmere::testing::ChildProcess;
using bunkmere::testing::RunProcess;

using testing::StandinServer;

#define REQUIRE_STANDIN() \
  if (!StandinServer::Available()) BUNKMERE_CANNOT_RUN("sqlstandin is not built")

const char* kInit = "CREATE DATABASE JAIL\nGO\n";

// stdbuf: tsql writes through stdio, which holds a pipe's output back until exit otherwise.
std::vector<std::string> Tsql(const StandinServer& s, const std::string& db = "JAIL") {
  return {"stdbuf", "-o0",    "tsql", "-H",         s.Host(), "-p", std::to_string(s.Port()),
          "-U",     s.User(), "-P",   s.Password(), "-D",     db};
}

// tsql reads batches from stdin, "go" sends one.
std::string RunTsql(const StandinServer& s, const std::string& script) {
  auto [status, out] = RunProcess(Tsql(s), script + "\nexit\n");
  EXPECT_EQ(status, 0) << out;
  return out;
}

template <typename F>
bool Eventually(F condition) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < until) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

TEST(StandinClients, TsqlCreatesFillsAndReadsTypedValues) {
  REQUIRE_STANDIN();
  StandinServer server(kInit);
  std::string out = RunTsql(
      server,
      "CREATE TABLE T (K INT NOT NULL PRIMARY KEY, C CHAR(5) NULL, V VARCHAR(10) NULL, "
      "N NVARCHAR(10) NULL, B BIT NULL, D DATETIME NULL, F FLOAT NULL, M DECIMAL(8,2) NULL)\n"
      "go\n"
      "INSERT INTO T VALUES (1, 'ab', 'x', N'caf\xC3\xA9', 1, '2024-02-29 13:45:10', 0.5, 12.5)\n"
      "go\n"
      "INSERT INTO T (K) VALUES (2)\n"
      "go\n"
      "SELECT K, '[' + C + ']' AS CB, V, N, B, D, F, M FROM T ORDER BY K\n"
      "go\n");
  EXPECT_NE(out.find("1\t[ab   ]\tx\tcaf\xC3\xA9\t1\tFeb 29 2024 01:45PM\t0.5\t12.50"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("2\tNULL\tNULL\tNULL\tNULL\tNULL\tNULL\tNULL"), std::string::npos) << out;
  EXPECT_NE(out.find("(2 rows affected)"), std::string::npos) << out;
  EXPECT_EQ(out.find("Msg "), std::string::npos) << out;
}

TEST(StandinClients, TsqlSessionsShareGlobalTemporaryTables) {
  REQUIRE_STANDIN();
  StandinServer server(kInit);
  ChildProcess holder(Tsql(server));
  holder.Write(
      "CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17] (UserName VARCHAR(30))\ngo\n"
      "SELECT 'holder' + 'ready'\ngo\n");
  ASSERT_TRUE(holder.ReadUntil("holderready")) << holder.Output();

  std::string refused = RunTsql(
      server, "CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17] (UserName VARCHAR(30))\ngo\n");
  EXPECT_NE(refused.find("Msg 2714"), std::string::npos) << refused;
  EXPECT_NE(
      refused.find("There is already an object named '##LOCK-JAIL.CFGCELL.17' in the database."),
      std::string::npos)
      << refused;

  holder.Kill();  // the creator dies without a word: the server must still drop its table
  EXPECT_TRUE(Eventually([&] {
    return RunTsql(server, "SELECT * FROM [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]\ngo\n")
               .find("Msg 208") != std::string::npos;
  }));
}

TEST(StandinClients, BsqldbRunsScriptsAndIsRefusedAHeldTable) {
  REQUIRE_STANDIN();
  StandinServer server(kInit);
  std::vector<std::string> bsqldb = {"bsqldb",
                                     "-S",
                                     server.Host() + ":" + std::to_string(server.Port()),
                                     "-U",
                                     server.User(),
                                     "-P",
                                     server.Password(),
                                     "-D",
                                     "JAIL",
                                     "-q",  // data only, fields separated by "|"
                                     "-t",
                                     "|"};
  auto [status, out] =
      RunProcess(bsqldb,
                 "CREATE TABLE B (K INT NOT NULL, C CHAR(4) NULL, V VARCHAR(8) NULL)\ngo\n"
                 "INSERT INTO B VALUES (1, 'a', 'one')\ngo\n"
                 "INSERT INTO B VALUES (2, NULL, NULL)\ngo\n"
                 // db-lib's string binding trims trailing blanks, so show where CHAR's end
                 "SELECT K, C + '!' AS C, V FROM B ORDER BY K\ngo\n");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("1|a   !|one\n2|NULL|NULL\n"), std::string::npos) << out;

  ChildProcess holder(Tsql(server));
  holder.Write("CREATE TABLE ##HELD (x INT)\ngo\nSELECT 'holder' + 'ready'\ngo\n");
  ASSERT_TRUE(holder.ReadUntil("holderready")) << holder.Output();
  auto [refusedStatus, refused] = RunProcess(bsqldb, "CREATE TABLE ##HELD (x INT)\ngo\n");
  EXPECT_NE(refusedStatus, 0);
  EXPECT_NE(refused.find("2714"), std::string::npos) << refused;
  holder.Write("exit\n");
  EXPECT_EQ(holder.Finish(), 0);  // a clean disconnect drops it as well
  EXPECT_TRUE(Eventually(
      [&] { return RunProcess(bsqldb, "CREATE TABLE ##HELD (x INT)\ngo\n").first == 0; }));
}

TEST(StandinClients, PytdsPassesItsChecks) {
  REQUIRE_STANDIN();
  StandinServer server(kInit);
  auto [status, out] = RunProcess(
      {"/usr/bin/python3", STANDIN_CLIENTS_DIR "/pytds_check.py", server.Host(),
       std::to_string(server.Port()), server.User(), server.Password(), StandinServer::CaFile()},
      "");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("PASS"), std::string::npos) << out;
  for (const auto& session : server.Sessions())
    EXPECT_TRUE(session.loginEncrypted) << session.spid << " " << session.outcome;
}

// Another program holding a row in an open transaction, played by two clients written by
// others: pytds and tedious (both begin, commit and roll back with transaction-manager
// requests). Each script checks the wait, the lock time-out, commit, rollback, a cancel during
// the wait and the holder's end.
TEST(StandinClients, TransactionsHoldRowsForPytdsAndTedious) {
  REQUIRE_STANDIN();
  const std::vector<std::vector<std::string>> scripts = {
      {"/usr/bin/python3", STANDIN_CLIENTS_DIR "/pytds_tx_check.py"},
      {"node", STANDIN_CLIENTS_DIR "/tedious_tx_check.js"},
  };
  for (auto command : scripts) {
    SCOPED_TRACE(command[1]);
    StandinServer server(kInit);
    for (const std::string& arg : {server.Host(), std::to_string(server.Port()), server.User(),
                                   server.Password(), StandinServer::CaFile()})
      command.push_back(arg);
    auto [status, out] = RunProcess(command, "");
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("PASS"), std::string::npos) << out;
    // No password crossed in the clear, tests included.
    for (const auto& session : server.Sessions())
      EXPECT_TRUE(session.loginEncrypted) << session.spid << " " << session.outcome;
  }
}

// The constructs of batches that do several things in one round trip (TRY...CATCH, RAISERROR,
// several results and counts, SET NOCOUNT, XACT_ABORT in TRY, an @@ROWCOUNT guard), as two
// clients written by others see them.
TEST(StandinClients, BatchConstructsForPytdsAndTedious) {
  REQUIRE_STANDIN();
  const std::vector<std::vector<std::string>> scripts = {
      {"/usr/bin/python3", STANDIN_CLIENTS_DIR "/pytds_batch_check.py"},
      {"node", STANDIN_CLIENTS_DIR "/tedious_batch_check.js"},
  };
  for (auto command : scripts) {
    SCOPED_TRACE(command[1]);
    StandinServer server(kInit);
    for (const std::string& arg : {server.Host(), std::to_string(server.Port()), server.User(),
                                   server.Password(), StandinServer::CaFile()})
      command.push_back(arg);
    auto [status, out] = RunProcess(command, "");
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("PASS"), std::string::npos) << out;
    for (const auto& session : server.Sessions())
      EXPECT_TRUE(session.loginEncrypted) << session.spid << " " << session.outcome;
  }
}

// A mistyped command line gets one line naming the bad argument and a pointer to --help,
// not the whole usage; --help itself still prints it.
TEST(StandinClients, CommandLineMistakesAreReportedInOneLine) {
  REQUIRE_STANDIN();
  const std::string bin = StandinServer::BinaryPath();
  auto [status, out] = RunProcess({bin, "foo"}, "");
  EXPECT_NE(status, 0);
  EXPECT_EQ(out, "sqlstandin: unknown argument 'foo'\nsee --help\n");
  std::tie(status, out) = RunProcess({bin, "--data"}, "");
  EXPECT_NE(status, 0);
  EXPECT_EQ(out, "sqlstandin: option --data needs a value\nsee --help\n");
  std::tie(status, out) = RunProcess({bin, "--help"}, "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.rfind("usage: sqlstandin", 0), 0u) << out;
}

}  // namespace
}  // namespace standin::test
