// The path the system itself takes: unixODBC with the FreeTDS driver against sqlstandin, plus
// what the executable promises on its command line (logins, statement log, faults, SIGTERM).

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "standin/testing/StandinServer.h"
#include "tests/CannotRun.h"
#include "tests/ChildProcess.h"

namespace standin::test {
namespace {

using bunkmere::testing::RunProcess;

using testing::StandinServer;

#define REQUIRE_STANDIN() \
  if (!StandinServer::Available()) BUNKMERE_CANNOT_RUN("sqlstandin is not built")

const char* kInit =
    "CREATE DATABASE JAIL\nGO\nUSE JAIL\n"
    "CREATE TABLE CFGCELL (UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY, CELLKEY INT NOT NULL, "
    "FACILITYID CHAR(6) NULL, ONCELL INT NULL, ALLOW INT NULL)\n"
    "INSERT INTO CFGCELL (CELLKEY, FACILITYID, ONCELL, ALLOW) VALUES (17, 'MAIN', 0, 2), (18, "
    "'MAIN', 1, 2), "
    "(19, 'EAST', NULL, 1)\nGO\n";

// The diagnostics of a handle as "NATIVE:text" lines, without the driver's "[FreeTDS][SQL Server]".
std::string Diag(SQLSMALLINT type, SQLHANDLE h) {
  std::string out;
  SQLCHAR state[6], msg[1024];
  SQLINTEGER native;
  SQLSMALLINT len;
  for (SQLSMALLINT i = 1;
       SQLGetDiagRec(type, h, i, state, &native, msg, sizeof msg, &len) == SQL_SUCCESS; ++i) {
    std::string text = reinterpret_cast<char*>(msg);
    while (!text.empty() && text[0] == '[' && text.find(']') != std::string::npos)
      text.erase(0, text.find(']') + 1);
    out += std::to_string(native) + ":" + text + "\n";
  }
  return out;
}

class Odbc {
 public:
  explicit Odbc(const std::string& connectionString) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)connectionString.c_str(), SQL_NTS,
                                    nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    connected_ = SQL_SUCCEEDED(rc);
    if (!connected_) error_ = Diag(SQL_HANDLE_DBC, dbc_);
  }
  ~Odbc() {
    if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  bool Connected() const { return connected_; }
  const std::string& Error() const { return error_; }
  SQLHSTMT Stmt() {
    if (!stmt_) SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
    return stmt_;
  }
  void FreeStmt() {
    if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    stmt_ = nullptr;
  }
  // Runs a statement; returns "" or the diagnostics.
  std::string Exec(const std::string& sql) {
    SQLFreeStmt(Stmt(), SQL_CLOSE);
    SQLRETURN rc = SQLExecDirect(Stmt(), (SQLCHAR*)sql.c_str(), SQL_NTS);
    return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA ? "" : Diag(SQL_HANDLE_STMT, Stmt());
  }
  // All rows of the current result as text ("NULL" for NULL).
  std::vector<std::vector<std::string>> Rows() {
    std::vector<std::vector<std::string>> rows;
    SQLSMALLINT cols = 0;
    SQLNumResultCols(Stmt(), &cols);
    while (SQL_SUCCEEDED(SQLFetch(Stmt()))) {
      std::vector<std::string> row;
      for (SQLUSMALLINT c = 1; c <= cols; ++c) {
        char buf[512];
        SQLLEN ind;
        SQLGetData(Stmt(), c, SQL_C_CHAR, buf, sizeof buf, &ind);
        row.push_back(ind == SQL_NULL_DATA ? "NULL" : buf);
      }
      rows.push_back(std::move(row));
    }
    SQLFreeStmt(Stmt(), SQL_CLOSE);
    return rows;
  }
  // Every result of the last statement that has columns, each as Rows() gives it; "" or the
  // diagnostics where reading stopped.
  std::string AllRows(std::vector<std::vector<std::vector<std::string>>>& sets) {
    SQLRETURN rc;
    do {
      SQLSMALLINT cols = 0;
      SQLNumResultCols(Stmt(), &cols);
      if (cols > 0) {
        sets.emplace_back();
        while (SQL_SUCCEEDED(SQLFetch(Stmt()))) {
          std::vector<std::string> row;
          for (SQLUSMALLINT c = 1; c <= cols; ++c) {
            char buf[512];
            SQLLEN ind;
            SQLGetData(Stmt(), c, SQL_C_CHAR, buf, sizeof buf, &ind);
            row.push_back(ind == SQL_NULL_DATA ? "NULL" : buf);
          }
          sets.back().push_back(std::move(row));
        }
      }
      rc = SQLMoreResults(Stmt());
    } while (SQL_SUCCEEDED(rc));
    return rc == SQL_NO_DATA ? "" : Diag(SQL_HANDLE_STMT, Stmt());
  }
  // The SQLSTATE of the statement's first diagnostic.
  std::string State() {
    SQLCHAR state[6] = {0}, msg[512];
    SQLINTEGER native;
    SQLSMALLINT len;
    SQLGetDiagRec(SQL_HANDLE_STMT, Stmt(), 1, state, &native, msg, sizeof msg, &len);
    return reinterpret_cast<char*>(state);
  }
  bool SetAutocommit(bool on) {
    return SQL_SUCCEEDED(SQLSetConnectAttr(
        dbc_, SQL_ATTR_AUTOCOMMIT,
        reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0));
  }
  bool EndTran(SQLSMALLINT how) {
    SQLFreeStmt(Stmt(), SQL_CLOSE);
    return SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, how));
  }
  SQLLEN RowCount() {
    SQLLEN n = -2;
    SQLRowCount(Stmt(), &n);
    return n;
  }

 private:
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
  bool connected_ = false;
  std::string error_;
};

using Rows = std::vector<std::vector<std::string>>;

TEST(StandinOdbc, DirectPreparedAndCountedStatements) {
  REQUIRE_STANDIN();
  StandinServer server(kInit);
  Odbc db(server.OdbcConnectionString("JAIL"));
  ASSERT_TRUE(db.Connected()) << db.Error();

  ASSERT_EQ(db.Exec("SELECT CELLKEY, FACILITYID, ONCELL FROM CFGCELL ORDER BY CELLKEY"), "");
  EXPECT_EQ(db.Rows(),
            (Rows{{"17", "MAIN  ", "0"}, {"18", "MAIN  ", "1"}, {"19", "EAST  ", "NULL"}}));

  ASSERT_EQ(db.Exec("UPDATE CFGCELL SET ONCELL = 1 WHERE FACILITYID = 'MAIN'"), "");
  EXPECT_EQ(db.RowCount(), 2);  // matched rows, the unchanged one included

  // SQLExecDirect with ? markers goes out as sp_executesql.
  SQLINTEGER key = 19;
  SQLLEN keyInd = 0;
  SQLHSTMT st = db.Stmt();
  SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &key, 0, &keyInd);
  ASSERT_EQ(db.Exec("SELECT FACILITYID FROM CFGCELL WHERE CELLKEY = ?"), "");
  EXPECT_EQ(db.Rows(), (Rows{{"EAST  "}}));
  SQLFreeStmt(st, SQL_RESET_PARAMS);

  // SQLPrepare once, SQLExecute twice with new values: sp_prepexec, then sp_execute.
  char facility[8] = "MAIN";
  SQLLEN facilityInd = SQL_NTS;
  SQLINTEGER oncell = 5;
  SQLLEN oncellInd = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(
      SQLPrepare(st, (SQLCHAR*)"UPDATE CFGCELL SET ONCELL = ? WHERE FACILITYID = ?", SQL_NTS)));
  SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &oncell, 0, &oncellInd);
  SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 6, 0, facility, sizeof facility,
                   &facilityInd);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(st))) << Diag(SQL_HANDLE_STMT, st);
  EXPECT_EQ(db.RowCount(), 2);
  std::strcpy(facility, "EAST");
  oncellInd = SQL_NULL_DATA;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(st))) << Diag(SQL_HANDLE_STMT, st);
  EXPECT_EQ(db.RowCount(), 1);
  db.FreeStmt();
  ASSERT_EQ(db.Exec("SELECT CELLKEY, ONCELL FROM CFGCELL ORDER BY CELLKEY"), "");
  EXPECT_EQ(db.Rows(), (Rows{{"17", "5"}, {"18", "5"}, {"19", "NULL"}}));

  auto log = server.Statements();
  std::vector<std::string> procs;
  for (const auto& s : log)
    if (s.kind == "rpc") procs.push_back(s.proc);
  EXPECT_EQ(procs, (std::vector<std::string>{"sp_executesql", "sp_prepexec", "sp_execute",
                                             "sp_unprepare"}));
  for (const auto& s : log) {
    if (s.proc == "sp_execute") {
      EXPECT_EQ(s.sql, "UPDATE CFGCELL SET ONCELL = @P1 WHERE FACILITYID = @P2");
      ASSERT_EQ(s.params.size(), 2u);
      EXPECT_EQ(s.params[0].value, std::nullopt);
      EXPECT_EQ(s.params[1].value, "EAST");
    }
  }
}

TEST(StandinOdbc, CatalogAndColumnAttributes) {
  REQUIRE_STANDIN();
  StandinServer server(kInit);
  Odbc db(server.OdbcConnectionString("JAIL"));
  ASSERT_TRUE(db.Connected()) << db.Error();
  SQLHSTMT st = db.Stmt();
  ASSERT_TRUE(
      SQL_SUCCEEDED(SQLPrimaryKeys(st, nullptr, 0, nullptr, 0, (SQLCHAR*)"CFGCELL", SQL_NTS)))
      << Diag(SQL_HANDLE_STMT, st);
  auto keys = db.Rows();
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0][2], "CFGCELL");
  EXPECT_EQ(keys[0][3], "UniqueKey");
  EXPECT_EQ(keys[0][4], "1");

  ASSERT_EQ(db.Exec("SELECT UniqueKey, CELLKEY, CELLKEY + 1 AS N FROM CFGCELL WHERE CELLKEY = 0"),
            "");
  // The identity column and an expression cannot be written; a plain column can.
  struct Case {
    SQLUSMALLINT column;
    SQLLEN identity, updatable;
  } cases[] = {{1, SQL_TRUE, SQL_ATTR_READONLY},
               {2, SQL_FALSE, SQL_ATTR_WRITE},
               {3, SQL_FALSE, SQL_ATTR_READONLY}};
  for (const auto& c : cases) {
    SQLLEN identity = -1, updatable = -1;
    SQLColAttribute(st, c.column, SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr, &identity);
    SQLColAttribute(st, c.column, SQL_DESC_UPDATABLE, nullptr, 0, nullptr, &updatable);
    EXPECT_EQ(identity, c.identity) << c.column;
    EXPECT_EQ(updatable, c.updatable) << c.column;
  }
}

TEST(StandinOdbc, GlobalTemporaryTablesAcrossConnections) {
  REQUIRE_STANDIN();
  StandinServer server(kInit);
  auto firstOwner = std::make_unique<Odbc>(server.OdbcConnectionString("JAIL"));
  Odbc& first = *firstOwner;
  Odbc second(server.OdbcConnectionString("JAIL"));
  ASSERT_TRUE(first.Connected() && second.Connected());
  const std::string create =
      "CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17](  DatabaseName VARCHAR(30),"
      "  TimeLocked   DateTime)";
  ASSERT_EQ(first.Exec(create), "");
  ASSERT_EQ(
      first.Exec(
          "INSERT INTO [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]  (DatabaseName, TimeLocked) VALUES "
          "  ('JAIL', '2024-05-06 07:08:09')"),
      "");
  EXPECT_NE(second.Exec(create).find(
                "2714:There is already an object named '##LOCK-JAIL.CFGCELL.17' in the database."),
            std::string::npos);
  EXPECT_NE(first.Exec(create).find("2714:"), std::string::npos);
  ASSERT_EQ(second.Exec("SELECT * FROM [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]"), "");
  EXPECT_EQ(second.Rows(), (Rows{{"JAIL", "2024-05-06 07:08:09.000"}}));
  firstOwner.reset();  // the creator disconnects
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::string error;
  while ((error = second.Exec("SELECT * FROM [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]")).empty() &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(error.find("208:Invalid object name"), std::string::npos) << error;
}

// The client's own path to a row another program holds: FreeTDS with autocommit off (implicit
// transactions) holds it; a second connection's SET LOCK_TIMEOUT ends its wait with 1222; a
// third one's query time-out makes FreeTDS send ATTENTION, which ends the wait without writing.
TEST(StandinOdbc, HeldRowsLockTimeOutAndQueryTimeOut) {
  REQUIRE_STANDIN();
  StandinServer server(kInit);
  Odbc holder(server.OdbcConnectionString("JAIL"));
  Odbc blocked(server.OdbcConnectionString("JAIL"));
  Odbc impatient(server.OdbcConnectionString("JAIL"));
  ASSERT_TRUE(holder.Connected() && blocked.Connected() && impatient.Connected());
  ASSERT_TRUE(holder.SetAutocommit(false));
  ASSERT_EQ(holder.Exec("UPDATE CFGCELL SET ONCELL = 7 WHERE CELLKEY = 17"), "");
  ASSERT_EQ(holder.Exec("SELECT @@TRANCOUNT"), "");
  EXPECT_EQ(holder.Rows(), (Rows{{"1"}}));

  ASSERT_EQ(blocked.Exec("SET LOCK_TIMEOUT 300"), "");
  ASSERT_EQ(blocked.Exec("SELECT @@LOCK_TIMEOUT"), "");
  EXPECT_EQ(blocked.Rows(), (Rows{{"300"}}));
  auto start = std::chrono::steady_clock::now();
  std::string error = blocked.Exec("UPDATE CFGCELL SET ONCELL = 8 WHERE CELLKEY = 17");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_NE(error.find("1222:Lock request time out period exceeded."), std::string::npos) << error;
  EXPECT_EQ(blocked.Exec("UPDATE CFGCELL SET ONCELL = 8 WHERE CELLKEY = 18"), "");  // not held

  SQLSetStmtAttr(impatient.Stmt(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0);
  start = std::chrono::steady_clock::now();
  error = impatient.Exec("UPDATE CFGCELL SET ONCELL = 9 WHERE CELLKEY = 17");
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_NE(error, "");
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(impatient.State(), "HYT00") << error;
  ASSERT_EQ(impatient.Exec("SELECT 5"), "");  // the session answers again
  EXPECT_EQ(impatient.Rows(), (Rows{{"5"}}));

  ASSERT_TRUE(holder.EndTran(SQL_COMMIT));
  ASSERT_EQ(blocked.Exec("SELECT ONCELL FROM CFGCELL WHERE CELLKEY = 17"), "");
  EXPECT_EQ(blocked.Rows(), (Rows{{"7"}})) << "the cancelled write must not happen";

  // Rollback, and a holder that disconnects, both put the row back and let it go.
  ASSERT_EQ(holder.Exec("UPDATE CFGCELL SET ONCELL = 70 WHERE CELLKEY = 17"), "");
  ASSERT_TRUE(holder.EndTran(SQL_ROLLBACK));
  ASSERT_EQ(blocked.Exec("SELECT ONCELL FROM CFGCELL WHERE CELLKEY = 17"), "");
  EXPECT_EQ(blocked.Rows(), (Rows{{"7"}}));
  auto leaving = std::make_unique<Odbc>(server.OdbcConnectionString("JAIL"));
  ASSERT_TRUE(leaving->SetAutocommit(false));
  ASSERT_EQ(leaving->Exec("UPDATE CFGCELL SET ONCELL = 71 WHERE CELLKEY = 17"), "");
  leaving.reset();
  ASSERT_EQ(blocked.Exec("SET LOCK_TIMEOUT 2000"), "");
  ASSERT_EQ(blocked.Exec("SELECT ONCELL FROM CFGCELL WHERE CELLKEY = 17"), "");
  EXPECT_EQ(blocked.Rows(), (Rows{{"7"}}));
}

TEST(StandinExecutable, LoginsAreCheckedAsSqlServerChecksThem) {
  REQUIRE_STANDIN();
  testing::StandinOptions options;
  options.initScript = kInit;
  options.user = "jailer";
  options.password = "S3cret!";
  StandinServer server(options);
  struct Case {
    std::string connection;
    std::string error;
  } cases[] = {
      {"Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(server.Port()) +
           ";UID=jailer;PWD=wrong;Database=JAIL;TDS_Version=7.4",
       "18456:Login failed for user 'jailer'."},
      {"Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(server.Port()) +
           ";UID=jailer;PWD=S3cret!;Database=NOSUCH;TDS_Version=7.4",
       "4060:Cannot open database \"NOSUCH\" requested by the login. The login failed."},
  };
  for (const auto& c : cases) {
    Odbc db(c.connection);
    EXPECT_FALSE(db.Connected());
    EXPECT_NE(db.Error().find(c.error), std::string::npos) << db.Error();
  }
  EXPECT_TRUE(Odbc(server.OdbcConnectionString("JAIL")).Connected());
}

TEST(StandinExecutable, FaultsChangeDataAndDropSessions) {
  REQUIRE_STANDIN();
  // Statement 1 is the first SELECT below; between it and the second, another "program" edits.
  StandinServer server(
      kInit, {"exec-after:1:UPDATE CFGCELL SET ONCELL = 9 WHERE CELLKEY = 17", "drop-after:3",
              "fail:1205:ALLOW = 3|Transaction (Process ID 51) was deadlocked on lock resources "
              "with another process and has been chosen as the deadlock victim. Rerun the "
              "transaction."});
  Odbc db(server.OdbcConnectionString("JAIL"));
  ASSERT_TRUE(db.Connected()) << db.Error();
  ASSERT_EQ(db.Exec("SELECT ONCELL FROM CFGCELL WHERE CELLKEY = 17"), "");
  EXPECT_EQ(db.Rows(), (Rows{{"0"}}));
  ASSERT_EQ(db.Exec("SELECT ONCELL FROM CFGCELL WHERE CELLKEY = 17"), "");
  EXPECT_EQ(db.Rows(), (Rows{{"9"}}));
  EXPECT_NE(db.Exec("UPDATE CFGCELL SET ALLOW = 3")
                .find("1205:Transaction (Process ID 51) was deadlocked"),
            std::string::npos);
  EXPECT_NE(db.Exec("SELECT 1"), "");  // statement 4: the session is dropped
  Odbc again(server.OdbcConnectionString("JAIL"));
  ASSERT_TRUE(again.Connected());
  ASSERT_EQ(again.Exec("SELECT ALLOW FROM CFGCELL WHERE CELLKEY = 17"), "");
  EXPECT_EQ(again.Rows(), (Rows{{"2"}}));  // the failed UPDATE never ran
}

TEST(StandinExecutable, CommandLineAndCleanStop) {
  REQUIRE_STANDIN();
  auto [helpStatus, help] = RunProcess({StandinServer::BinaryPath(), "--help"}, "");
  EXPECT_EQ(helpStatus, 0);
  EXPECT_NE(help.find("exec-after:N:SQL"), std::string::npos);
  EXPECT_NE(help.find("drop-at-step:K"), std::string::npos);
  EXPECT_NE(help.find("--step-log"), std::string::npos);
  auto [badStatus, bad] =
      RunProcess({StandinServer::BinaryPath(), "--data", "/tmp", "--fault", "explode:1"}, "");
  EXPECT_EQ(badStatus, 2);
  EXPECT_NE(bad.find("unknown fault kind 'explode'"), std::string::npos) << bad;
  EXPECT_THROW(StandinServer("THIS IS NOT SQL"), std::runtime_error);

  // Started means serving: the port it announced takes a login at once. How long the start
  // took is no measure (the sanitizers on a loaded machine take seconds); a start that hangs
  // is bounded by StandinServer's own start time-out.
  StandinServer server(kInit);
  Odbc db(server.OdbcConnectionString("JAIL"));
  ASSERT_TRUE(db.Connected());
  EXPECT_EQ(server.Stop(), 0);  // SIGTERM with a session open: a clean exit
}

// A request's statements each get a step, nested ones too, logged before they run with the
// request's parameters; without --step-log the log has none.
TEST(StandinExecutable, StepLogNumbersEachStatementBeforeItRuns) {
  REQUIRE_STANDIN();
  for (bool stepLog : {true, false}) {
    SCOPED_TRACE(stepLog);
    testing::StandinOptions options;
    options.initScript = kInit;
    options.stepLog = stepLog;
    StandinServer server(options);
    Odbc db(server.OdbcConnectionString("JAIL"));
    ASSERT_TRUE(db.Connected()) << db.Error();
    SQLINTEGER key = 17;
    SQLLEN keyInd = 0;
    SQLBindParameter(db.Stmt(), 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &key, 0,
                     &keyInd);
    ASSERT_EQ(db.Exec("SELECT 1\nBEGIN TRY\nUPDATE CFGCELL SET ONCELL = 5 WHERE CELLKEY = ?\n"
                      "IF @@ROWCOUNT = 1 BEGIN SELECT 2 END\nEND TRY\n"
                      "BEGIN CATCH\nSELECT ERROR_NUMBER()\nEND CATCH"),
              "");
    std::vector<testing::LoggedStatement> steps;
    std::int64_t requestSeq = 0;
    for (const auto& s : server.Statements()) {
      if (s.kind == "step") steps.push_back(s);
      if (s.kind != "step" && s.sql.starts_with("SELECT 1\n")) requestSeq = s.seq;
    }
    ASSERT_NE(requestSeq, 0);
    if (!stepLog) {
      EXPECT_TRUE(steps.empty());
      continue;
    }
    struct Expected {
      int line;
      const char* sql;
    };
    const Expected expected[] = {
        {1, "SELECT 1"},
        {3, "UPDATE CFGCELL SET ONCELL = 5 WHERE CELLKEY = @P1"},
        {4, "IF @@ROWCOUNT = 1 BEGIN SELECT 2 END"},
        {4, "SELECT 2"},
    };
    std::vector<testing::LoggedStatement> ofRequest;
    for (const auto& s : steps)
      if (s.seq == requestSeq) ofRequest.push_back(s);
    // The init script ran before any request: the first request's first statement is step 1.
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.front().step, 1);
    ASSERT_EQ(ofRequest.size(), std::size(expected));
    for (std::size_t i = 0; i < ofRequest.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(ofRequest[i].line, expected[i].line);
      EXPECT_EQ(ofRequest[i].sql, expected[i].sql);
      if (i > 0) {
        EXPECT_EQ(ofRequest[i].step, ofRequest[i - 1].step + 1);
      }
      ASSERT_EQ(ofRequest[i].params.size(), 1u);
      EXPECT_EQ(ofRequest[i].params[0].value, "17");
    }
  }
}

// The cuts a pass's tests make: the same client against a server that fails a statement, or
// drops the session, at a chosen step of a batch. The step numbers come from a run with steps
// logged, as such a test finds them.
TEST(StandinExecutable, StepFaultsCutABatchBetweenItsStatements) {
  REQUIRE_STANDIN();
  const std::string batch =
      "INSERT INTO CFGCELL (CELLKEY, ONCELL) VALUES (30, 1)\n"
      "BEGIN TRY\n"
      "CREATE TABLE ##LOCK30 (Who VARCHAR(10))\n"
      "INSERT INTO CFGCELL (CELLKEY, ONCELL) VALUES (31, 1)\n"
      "END TRY\n"
      "BEGIN CATCH\n"
      "SELECT ERROR_NUMBER(), ERROR_LINE(), ERROR_MESSAGE()\n"
      "END CATCH\n"
      "SELECT COUNT(*) FROM CFGCELL";
  auto start = [&](std::vector<std::string> faults, bool stepLog) {
    testing::StandinOptions options;
    options.initScript = kInit;
    options.faults = std::move(faults);
    options.stepLog = stepLog;
    return std::make_unique<StandinServer>(options);
  };
  auto cellsWritten = [](StandinServer& server) {
    Odbc check(server.OdbcConnectionString("JAIL"));
    EXPECT_TRUE(check.Connected());
    EXPECT_EQ(check.Exec("SELECT CELLKEY FROM CFGCELL WHERE CELLKEY >= 30 ORDER BY CELLKEY"), "");
    return check.Rows();
  };
  std::int64_t createStep = 0, secondInsertStep = 0;
  {
    auto server = start({}, true);
    Odbc db(server->OdbcConnectionString("JAIL"));
    ASSERT_TRUE(db.Connected()) << db.Error();
    ASSERT_EQ(db.Exec(batch), "");
    for (const auto& s : server->Statements()) {
      if (s.kind != "step") continue;
      if (s.sql.starts_with("CREATE TABLE ##LOCK30")) createStep = s.step;
      if (s.sql.find("VALUES (31, 1)") != std::string::npos) secondInsertStep = s.step;
    }
  }
  ASSERT_GT(createStep, 0);
  ASSERT_EQ(secondInsertStep, createStep + 1);

  {  // A run-time error at the CREATE: the CATCH block takes it, the client sees no error.
    auto server = start({"fail-at-step:" + std::to_string(createStep) +
                         ":1222|Lock request time out period exceeded."},
                        false);
    Odbc db(server->OdbcConnectionString("JAIL"));
    ASSERT_TRUE(db.Connected()) << db.Error();
    ASSERT_EQ(db.Exec(batch), "");
    std::vector<std::vector<std::vector<std::string>>> sets;
    ASSERT_EQ(db.AllRows(sets), "");
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0], (Rows{{"1222", "3", "Lock request time out period exceeded."}}));
    EXPECT_EQ(sets[1], (Rows{{"4"}}));
    EXPECT_EQ(cellsWritten(*server), (Rows{{"30"}}));
  }
  {  // Dropped before the second INSERT: what ran before stays, nothing after runs.
    auto server = start({"drop-at-step:" + std::to_string(secondInsertStep)}, false);
    Odbc db(server->OdbcConnectionString("JAIL"));
    ASSERT_TRUE(db.Connected()) << db.Error();
    EXPECT_NE(db.Exec(batch), "");
    EXPECT_EQ(cellsWritten(*server), (Rows{{"30"}}));
    // The dropped session's ## table went with it.
    Odbc other(server->OdbcConnectionString("JAIL"));
    ASSERT_TRUE(other.Connected());
    EXPECT_EQ(other.Exec("SELECT OBJECT_ID('tempdb..##LOCK30')"), "");
    EXPECT_EQ(other.Rows(), (Rows{{"NULL"}}));
  }
}

}  // namespace
}  // namespace standin::test
