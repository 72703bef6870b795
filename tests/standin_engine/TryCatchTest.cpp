// TRY...CATCH, statement blocks, RAISERROR, the ERROR_ functions and @@ROWCOUNT, as the
// pass's batches use them: which errors a CATCH block takes, what reaches the client, and
// what runs after.

#include "RecordingSink.h"

namespace standin::test {

class TryCatchTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Ok("CREATE TABLE T (A INT PRIMARY KEY, B VARCHAR(10))");
    Ok("INSERT INTO T VALUES (1, 'one'); INSERT INTO T VALUES (2, 'two')");
    other_ = engine_->OpenSession(52, "JAIL");
  }
  void TearDown() override {
    other_.reset();
    EngineTest::TearDown();
  }
  std::unique_ptr<Session> other_;
};

// Another program holds the lock table: a naive batch goes on after the failed CREATE and
// writes its row into the other's table; inside TRY the INSERT never runs, the client sees
// no error, and the CATCH block tells the number and the line.
TEST_F(TryCatchTest, AFailedCreateInsideTryRunsTheCatchBlockInsteadOfTheInsert) {
  ASSERT_EQ(RunOn(*other_,
                  "CREATE TABLE [tempdb].[dbo].[##LOCK-T](Who VARCHAR(10)); "
                  "INSERT INTO [tempdb].[dbo].[##LOCK-T] (Who) VALUES ('other')")
                .Error(),
            0);
  const std::string create = "CREATE TABLE [tempdb].[dbo].[##LOCK-T](Who VARCHAR(10))\n";
  const std::string insert = "INSERT INTO [tempdb].[dbo].[##LOCK-T] (Who) VALUES ('me')\n";

  auto guarded = Run("BEGIN TRY\nSELECT 7 AS Before\n" + create + insert +
                     "END TRY\nBEGIN CATCH\n"
                     "SELECT ERROR_NUMBER() AS ErrorNumber, ERROR_LINE() AS ErrorLine, "
                     "ERROR_SEVERITY(), ERROR_STATE(), ERROR_MESSAGE() AS ErrorMessage\n"
                     "END CATCH\nSELECT 'after'");
  EXPECT_EQ(guarded.Error(), 0) << guarded.ErrorText();
  ASSERT_EQ(guarded.rows.size(), 3u);
  EXPECT_EQ(guarded.rows[0], (std::vector<std::string>{"7"}));
  EXPECT_EQ(guarded.rows[1][0], "2714");
  EXPECT_EQ(guarded.rows[1][1], "3");
  EXPECT_EQ(guarded.rows[1][2], "16");
  EXPECT_NE(guarded.rows[1][4].find("There is already an object named"), std::string::npos);
  EXPECT_EQ(guarded.rows[2], (std::vector<std::string>{"'after'"}));
  EXPECT_EQ(Rows("SELECT Who FROM [tempdb].[dbo].[##LOCK-T]"), (Rowset{{"'other'"}}));

  auto naive = Run(create + insert);
  EXPECT_EQ(naive.Error(), 2714);
  EXPECT_EQ(Rows("SELECT Who FROM [tempdb].[dbo].[##LOCK-T] ORDER BY Who"),
            (Rowset{{"'me'"}, {"'other'"}}));
}

// Each case runs "BEGIN TRY <statement> SELECT 'rest' END TRY BEGIN CATCH SELECT
// ERROR_NUMBER() END CATCH SELECT 'end'".
TEST_F(TryCatchTest, RunTimeErrorsAreCaughtAndTheOthersAreNot) {
  ASSERT_EQ(RunOn(*other_, "BEGIN TRAN; UPDATE T SET B = 'held' WHERE A = 1").Error(), 0);
  struct Case {
    const char* statement;
    int sentError;  // 0: none reaches the client
    Rowset rows;
  };
  const Case cases[] = {
      {"RAISERROR(N'Update failed', 16, 1)", 0, {{"50000"}, {"'end'"}}},
      {"CREATE TABLE T (X INT)", 0, {{"2714"}, {"'end'"}}},
      {"INSERT INTO T VALUES (1, 'dup')", 0, {{"2627"}, {"'end'"}}},
      {"UPDATE T SET B = 'too long a text' WHERE A = 2", 0, {{"8152"}, {"'end'"}}},
      {"SET LOCK_TIMEOUT 0 UPDATE T SET B = 'x' WHERE A = 1", 0, {{"1222"}, {"'end'"}}},
      {"DROP TABLE NoSuchTable", 0, {{"3701"}, {"'end'"}}},
      // Severity 10 and below informs: no CATCH, the TRY block goes on.
      {"RAISERROR('just saying', 10, 1)", 0, {{"'rest'"}, {"'end'"}}},
      // Names resolved as the statement starts fail at the TRY's own level: not caught, and
      // the batch ends as it would without TRY.
      {"SELECT * FROM NoSuchTable", 208, {}},
      {"SELECT NoSuchColumn FROM T", 207, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    auto sink = Run(std::string("BEGIN TRY ") + c.statement +
                    " SELECT 'rest' END TRY BEGIN CATCH SELECT ERROR_NUMBER() END CATCH "
                    "SELECT 'end'");
    EXPECT_EQ(sink.Error(), c.sentError) << sink.ErrorText();
    EXPECT_EQ(sink.rows, c.rows);
  }
  ASSERT_EQ(RunOn(*other_, "ROLLBACK").Error(), 0);
  EXPECT_EQ(Rows("SELECT A, B FROM T ORDER BY A"), (Rowset{{"1", "'one'"}, {"2", "'two'"}}));
}

TEST_F(TryCatchTest, ASyntaxErrorAnywhereRunsNothing) {
  const char* batches[] = {
      "INSERT INTO T VALUES (3, 'c') BEGIN TRY SELECT 1 END TRY SELECT 2 BEGIN CATCH END CATCH",
      "INSERT INTO T VALUES (3, 'c') BEGIN TRY SELECT 1 END TRY",
      "INSERT INTO T VALUES (3, 'c') BEGIN TRY END TRY BEGIN CATCH END CATCH",
      "INSERT INTO T VALUES (3, 'c') BEGIN CATCH SELECT 1 END CATCH",
      "INSERT INTO T VALUES (3, 'c') BEGIN END",
      "INSERT INTO T VALUES (3, 'c') BEGIN SELECT 1",
      "INSERT INTO T VALUES (3, 'c') BEGIN TRY SELECT * FROM T WHERE END TRY "
      "BEGIN CATCH SELECT 1 END CATCH",
      "INSERT INTO T VALUES (3, 'c') END",
  };
  for (const char* sql : batches) {
    SCOPED_TRACE(sql);
    auto sink = Run(sql);
    EXPECT_EQ(sink.Error(), 102) << sink.ErrorText();
    EXPECT_TRUE(sink.rows.empty());
  }
  // Hostile nesting is refused as too deep, before it can exhaust the stack.
  for (const char* opening : {"BEGIN ", "BEGIN TRY ", "IF 1 = 1 BEGIN "}) {
    SCOPED_TRACE(opening);
    std::string deep = "INSERT INTO T VALUES (3, 'c') ";
    for (int i = 0; i < 2000; ++i) deep += opening;
    EXPECT_EQ(Run(deep).Error(), 191);
  }
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM T"), (Rowset{{"2"}}));
}

TEST_F(TryCatchTest, ErrorFunctionsTellTheErrorOfTheCatchBlockTheyAreIn) {
  auto sink =
      Run("SELECT ERROR_NUMBER(), ERROR_MESSAGE(), ERROR_LINE(), ERROR_SEVERITY(), ERROR_STATE()\n"
          "BEGIN TRY\n"
          "  RAISERROR('outer', 16, 3)\n"
          "END TRY\n"
          "BEGIN CATCH\n"
          "  BEGIN TRY\n"
          "    RAISERROR('inner', 12, 4)\n"
          "  END TRY\n"
          "  BEGIN CATCH\n"
          "    SELECT ERROR_MESSAGE(), ERROR_LINE(), ERROR_SEVERITY(), ERROR_STATE()\n"
          "  END CATCH\n"
          "  SELECT ERROR_MESSAGE(), ERROR_LINE(), ERROR_SEVERITY(), ERROR_STATE()\n"
          "END CATCH\n"
          "SELECT ERROR_NUMBER(), ERROR_PROCEDURE()");
  EXPECT_EQ(sink.Error(), 0) << sink.ErrorText();
  EXPECT_EQ(sink.rows, (Rowset{{"NULL", "NULL", "NULL", "NULL", "NULL"},
                               {"'inner'", "7", "12", "4"},
                               {"'outer'", "3", "16", "3"},
                               {"NULL", "NULL"}}));
}

TEST_F(TryCatchTest, ErrorsInsideCatchGoToTheEnclosingTryOrToTheClient) {
  auto nested =
      Run("BEGIN TRY BEGIN TRY RAISERROR('a', 16, 1) END TRY "
          "BEGIN CATCH RAISERROR('b', 16, 1) END CATCH SELECT 'skipped' END TRY "
          "BEGIN CATCH SELECT ERROR_MESSAGE() END CATCH");
  EXPECT_EQ(nested.Error(), 0);
  EXPECT_EQ(nested.rows, (Rowset{{"'b'"}}));

  auto outside =
      Run("BEGIN TRY RAISERROR('a', 16, 1) END TRY BEGIN CATCH RAISERROR('b', 16, 1) END CATCH "
          "SELECT 'goes on'");
  EXPECT_EQ(outside.Error(), 50000);
  EXPECT_EQ(outside.ErrorText(), "b");
  EXPECT_EQ(outside.rows, (Rowset{{"'goes on'"}}));
}

// Blocks hold statements wherever one statement may stand; without TRY an error in a block
// ends only its statement, as in the batch itself.
TEST_F(TryCatchTest, BlocksRunTheirStatementsAsTheBatchDoes) {
  auto sink = Run(
      "IF 1 = 1 BEGIN SELECT 1 CREATE TABLE T (X INT) SELECT 2 END ELSE SELECT 'no'\n"
      "IF 1 = 0 SELECT 'no' ELSE BEGIN SELECT 3 BEGIN SELECT 4 END END\n"
      "IF 1 = 1 BEGIN TRY RAISERROR('x', 16, 1) END TRY BEGIN CATCH SELECT ERROR_LINE() END CATCH");
  EXPECT_EQ(sink.Error(), 2714);
  EXPECT_EQ(sink.messages[0].line, 1);
  EXPECT_EQ(sink.rows, (Rowset{{"1"}, {"2"}, {"3"}, {"4"}, {"3"}}));
}

TEST_F(TryCatchTest, XactAbortSendsTheErrorToCatchAndRollsTheTransactionBack) {
  struct Case {
    const char* xactAbort;
    Rowset inCatch;  // @@TRANCOUNT and ERROR_NUMBER() there
    Rowset afterwards;
  };
  const Case cases[] = {
      {"ON", {{"0", "2627"}}, {{"2"}}},
      {"OFF", {{"1", "2627"}}, {{"3"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xactAbort);
    auto sink = Run(std::string("SET XACT_ABORT ") + c.xactAbort +
                    " BEGIN TRAN INSERT INTO T VALUES (3, 'three') "
                    "BEGIN TRY INSERT INTO T VALUES (1, 'dup') END TRY "
                    "BEGIN CATCH SELECT @@TRANCOUNT, ERROR_NUMBER() END CATCH "
                    "IF @@TRANCOUNT > 0 COMMIT");
    EXPECT_EQ(sink.Error(), 0) << sink.ErrorText();
    EXPECT_EQ(sink.rows, c.inCatch);
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM T"), c.afterwards);
    Ok("SET XACT_ABORT OFF DELETE FROM T WHERE A = 3");
  }
  // RAISERROR does not honour XACT_ABORT: the transaction stays, inside TRY and outside.
  const char* raised[] = {
      "BEGIN TRY RAISERROR('x', 16, 1) END TRY BEGIN CATCH SELECT 'caught' END CATCH",
      "RAISERROR('x', 16, 1)",
  };
  for (const char* r : raised) {
    SCOPED_TRACE(r);
    auto sink = Run(std::string("SET XACT_ABORT ON BEGIN TRAN INSERT INTO T VALUES (3, 'three') ") +
                    r + " SELECT @@TRANCOUNT");
    EXPECT_EQ(sink.rows.back(), (std::vector<std::string>{"1"}));
    Ok("SET XACT_ABORT OFF ROLLBACK");
  }
}

// A sink that fails or drops the statement with a given text, as the server's step faults do.
class StepSink : public RecordingSink {
 public:
  StepVerdict StatementStarting(const StatementStart& s) override {
    started.emplace_back(s.line, std::string(s.text));
    return s.text == target ? verdict : StepVerdict{};
  }
  std::string target;
  StepVerdict verdict;
  std::vector<std::pair<int, std::string>> started;
};

// A step's failure is a run-time error whatever its number (208 included), so TRY catches it;
// a drop ends the batch before the statement, and nothing after it is asked or sent.
TEST_F(TryCatchTest, AStepVerdictFailsOrDropsExactlyThatStatement) {
  const std::string batch =
      "SELECT 1\nBEGIN TRY\nUPDATE T SET B = 'x' WHERE A = 1\nSELECT 2\nEND TRY\n"
      "BEGIN CATCH\nSELECT ERROR_NUMBER(), ERROR_LINE()\nEND CATCH\nSELECT 3";
  struct Case {
    StepVerdict::Kind kind;
    int number;
    Rowset rows;
    std::size_t started;
  };
  const Case cases[] = {
      {StepVerdict::Kind::Fail, 1222, {{"1"}, {"1222", "3"}, {"3"}}, 4},
      {StepVerdict::Kind::Fail, 208, {{"1"}, {"208", "3"}, {"3"}}, 4},
      {StepVerdict::Kind::Drop, 0, {{"1"}}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    StepSink sink;
    sink.target = "UPDATE T SET B = 'x' WHERE A = 1";
    sink.verdict = {c.kind, c.number, "injected"};
    session_->Execute(batch, {}, sink);
    EXPECT_EQ(sink.Error(), 0) << sink.ErrorText();
    EXPECT_EQ(sink.rows, c.rows);
    ASSERT_EQ(sink.started.size(), c.started);
    EXPECT_EQ(sink.started[1], (std::pair<int, std::string>{3, sink.target}));
    EXPECT_EQ(Rows("SELECT B FROM T WHERE A = 1"), (Rowset{{"'one'"}}));
  }
}

TEST_F(TryCatchTest, RaiserrorGivesError50000OrAMessage) {
  struct Case {
    const char* sql;
    int number;
    int severity;
    int state;
    const char* text;
  };
  const Case cases[] = {
      {"RAISERROR(N'Update failed', 16, 1)", 50000, 16, 1, "Update failed"},
      {"RAISERROR('plain text', 11, 2)", 50000, 11, 2, "plain text"},
      {"RAISERROR('100%% done', 16, 1)", 50000, 16, 1, "100% done"},
      {"RAISERROR('note', 10, 1) WITH NOWAIT", 50000, 10, 1, "note"},
      {"RAISERROR('low', -5, -3)", 50000, 0, 1, "low"},
      {"RAISERROR('high state', 16, 300)", 50000, 16, 255, "high state"},
      {"RAISERROR('fatal', 20, 1)", 2754, 16, 1, nullptr},
      {"RAISERROR('%d rows', 16, 1, 5)", 40517, 16, 1, nullptr},
      {"RAISERROR('%s', 16, 1)", 40517, 16, 1, nullptr},
      {"RAISERROR('%', 16, 1)", 40517, 16, 1, nullptr},
      {"RAISERROR(50001, 16, 1)", 40517, 16, 1, nullptr},
      {"RAISERROR('x', 16, 1) WITH LOG", 40517, 16, 1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    auto sink = Run(std::string("SELECT 1\n") + c.sql);
    ASSERT_EQ(sink.messages.size(), 1u);
    const ServerMessage& m = sink.messages[0];
    EXPECT_EQ(m.number, c.number);
    EXPECT_EQ(m.severity, c.severity);
    EXPECT_EQ(m.state, c.state);
    if (c.text) {
      EXPECT_EQ(m.text, c.text);
      EXPECT_EQ(m.line, 2);
    }
  }
  // A RAISERROR ends nothing but itself.
  auto goesOn = Run("RAISERROR('x', 16, 1) SELECT 'next'");
  EXPECT_EQ(goesOn.rows, (Rowset{{"'next'"}}));
  // The longest message shown ends in an ellipsis.
  auto longText = Run("RAISERROR('" + std::string(3000, 'x') + "', 16, 1)");
  ASSERT_EQ(longText.messages.size(), 1u);
  EXPECT_EQ(longText.messages[0].text, std::string(2044, 'x') + "...");
}

TEST_F(TryCatchTest, RowCountGuardSeesTheStatementBeforeIt) {
  const std::string batch =
      "BEGIN TRY\n"
      "UPDATE T SET B = @P1 WHERE A = @P2\n"
      "IF @@ROWCOUNT <> 1 RAISERROR(N'Update failed', 16, 1)\n"
      "SELECT 'written'\n"
      "END TRY\n"
      "BEGIN CATCH\n"
      "SELECT ERROR_NUMBER(), ERROR_LINE(), ERROR_MESSAGE()\n"
      "END CATCH";
  struct Case {
    int key;
    Rowset rows;
  };
  const Case cases[] = {
      {2, {{"'written'"}}},
      {9, {{"50000", "3", "'Update failed'"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    Param params[] = {TextParam("@P1", "new"), IntParam("@P2", c.key)};
    auto sink = Run(batch, params);
    EXPECT_EQ(sink.Error(), 0) << sink.ErrorText();
    EXPECT_EQ(sink.rows, c.rows);
  }
  struct Count {
    const char* sql;
    const char* rowCount;
  };
  const Count counts[] = {
      {"SELECT * FROM T", "2"},
      {"UPDATE T SET B = B", "2"},
      {"DELETE FROM T WHERE A = 9", "0"},
      {"INSERT INTO T VALUES (5, 'five')", "1"},
      {"UPDATE T SET B = B SET NOCOUNT OFF", "0"},
      {"SELECT * FROM T BEGIN TRAN COMMIT", "0"},
      {"UPDATE T SET B = B IF 1 = 1 SELECT 'x' WHERE 1 = 0", "0"},
      {"UPDATE T SET B = B INSERT INTO T VALUES (1, 'dup')", "0"},
  };
  for (const auto& c : counts) {
    SCOPED_TRACE(c.sql);
    auto sink = Run(std::string(c.sql) + " SELECT @@ROWCOUNT");
    ASSERT_FALSE(sink.rows.empty());
    EXPECT_EQ(sink.rows.back(), (std::vector<std::string>{c.rowCount}));
  }
}

TEST_F(TryCatchTest, OneBatchGivesEachStatementItsResultAndCountUnlessNocount) {
  struct Case {
    const char* nocount;
    bool counted;
  };
  for (const Case& c : {Case{"OFF", true}, Case{"ON", false}}) {
    SCOPED_TRACE(c.nocount);
    auto sink = Run(std::string("SET NOCOUNT ") + c.nocount +
                    "\nBEGIN TRY\nUPDATE T SET B = B\nSELECT A FROM T ORDER BY A\n"
                    "UPDATE T SET B = 'z' WHERE A = 1\nEND TRY\n"
                    "BEGIN CATCH\nSELECT ERROR_NUMBER()\nEND CATCH\nSELECT @@ROWCOUNT");
    EXPECT_EQ(sink.Error(), 0);
    EXPECT_EQ(sink.rows, (Rowset{{"1"}, {"2"}, {"1"}}));
    std::vector<std::pair<bool, std::int64_t>> counts;
    for (const Done& d : sink.done)
      if (d.hasCount) counts.emplace_back(d.hasCount, d.count);
    if (c.counted)
      EXPECT_EQ(counts, (std::vector<std::pair<bool, std::int64_t>>{
                            {true, 2}, {true, 2}, {true, 1}, {true, 1}}));
    else
      EXPECT_TRUE(counts.empty());
  }
  Ok("SET NOCOUNT OFF");
}

}  // namespace standin::test
