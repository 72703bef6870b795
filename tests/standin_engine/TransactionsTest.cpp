// Transactions and row locks: what another program does to hold a row, and what a second
// session meets when it touches that row (a wait, a lock time-out, a deadlock), as SQL Server
// answers them.

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "RecordingSink.h"

namespace standin::test {
namespace {

using namespace std::chrono_literals;

class TransactionsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Ok("CREATE TABLE CELL (UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY, CELLKEY INT NOT NULL, "
       "ONCELL INT NULL, NOTE VARCHAR(10) NULL); "
       "INSERT INTO CELL (CELLKEY, ONCELL, NOTE) VALUES (17, 0, 'a'), (18, 1, 'b'), (19, 2, 'c')");
    other_ = engine_->OpenSession(52, "JAIL");
  }
  void TearDown() override {
    other_.reset();
    EngineTest::TearDown();
  }
  Rowset Cells() {
    return Rows("SELECT UniqueKey, CELLKEY, ONCELL, NOTE FROM CELL ORDER BY UniqueKey");
  }
  // Runs a batch on the second session in the background.
  std::future<RecordingSink> Later(std::string sql) {
    return std::async(std::launch::async, [this, sql] { return RunOn(*other_, sql); });
  }

  std::unique_ptr<Session> other_;
};

TEST_F(TransactionsTest, TranCountNestsAndCommitWithoutBeginFails) {
  EXPECT_EQ(Rows("SELECT @@TRANCOUNT"), (Rowset{{"0"}}));
  Ok("BEGIN TRANSACTION; BEGIN TRAN");
  EXPECT_EQ(Rows("SELECT @@TRANCOUNT"), (Rowset{{"2"}}));
  Ok("COMMIT");
  EXPECT_EQ(Rows("SELECT @@TRANCOUNT"), (Rowset{{"1"}}));
  Ok("COMMIT TRANSACTION");
  EXPECT_EQ(Rows("SELECT @@TRANCOUNT"), (Rowset{{"0"}}));
  auto commit = Run("COMMIT");
  EXPECT_EQ(commit.Error(), 3902);
  auto rollback = Run("ROLLBACK");
  EXPECT_EQ(rollback.Error(), 3903);
  // ROLLBACK ends every level at once.
  Ok("BEGIN TRAN; BEGIN TRAN; ROLLBACK");
  EXPECT_EQ(Rows("SELECT @@TRANCOUNT"), (Rowset{{"0"}}));
}

// The protocol side tells the client of the outermost begin and of the end, with one
// descriptor per transaction.
TEST_F(TransactionsTest, TheOutermostBeginAndTheEndAreReportedWithTheirDescriptor) {
  using T = ResultSink::Transaction;
  auto first = Run("BEGIN TRAN; BEGIN TRAN; COMMIT; COMMIT");
  ASSERT_EQ(first.transactions.size(), 2u);
  EXPECT_EQ(first.transactions[0].first, T::Begin);
  EXPECT_EQ(first.transactions[1].first, T::Commit);
  EXPECT_NE(first.transactions[0].second, 0u);
  EXPECT_EQ(first.transactions[1].second, first.transactions[0].second);
  auto second = Run("BEGIN TRAN; ROLLBACK");
  ASSERT_EQ(second.transactions.size(), 2u);
  EXPECT_EQ(second.transactions[1].first, T::Rollback);
  EXPECT_NE(second.transactions[0].second, first.transactions[0].second);
  EXPECT_EQ(second.transactions[1].second, second.transactions[0].second);
}

// With XACT_ABORT ON the lock time-out rolls the whole transaction back and ends the batch.
TEST_F(TransactionsTest, XactAbortRollsBackOnALockTimeOut) {
  Ok("BEGIN TRAN; UPDATE CELL SET ONCELL = 5 WHERE CELLKEY = 17");
  auto sink = RunOn(*other_,
                    "SET XACT_ABORT ON; SET LOCK_TIMEOUT 0; BEGIN TRAN; "
                    "UPDATE CELL SET NOTE = 'o' WHERE CELLKEY = 18; "
                    "UPDATE CELL SET ONCELL = 1 WHERE CELLKEY = 17; SELECT 1");
  EXPECT_EQ(sink.Error(), 1222);
  EXPECT_TRUE(sink.rows.empty());
  EXPECT_EQ(RunOn(*other_, "SELECT @@TRANCOUNT").rows, (Rowset{{"0"}}));
  Ok("COMMIT");
  EXPECT_EQ(Rows("SELECT NOTE FROM CELL WHERE CELLKEY = 18"), (Rowset{{"'b'"}}));
}

TEST_F(TransactionsTest, RollbackRestoresEveryKindOfWrite) {
  Rowset before = Cells();
  Ok("BEGIN TRAN; "
     "UPDATE CELL SET ONCELL = 9, NOTE = 'x' WHERE CELLKEY = 17; "
     "DELETE FROM CELL WHERE CELLKEY = 18; "
     "INSERT INTO CELL (CELLKEY, ONCELL) VALUES (20, 5); "
     "UPDATE CELL SET ONCELL = ONCELL + 1");
  EXPECT_NE(Cells(), before);
  Ok("ROLLBACK");
  EXPECT_EQ(Cells(), before);
  // A committed transaction keeps its writes.
  Ok("BEGIN TRAN; UPDATE CELL SET NOTE = 'kept' WHERE CELLKEY = 19; COMMIT");
  EXPECT_EQ(Rows("SELECT NOTE FROM CELL WHERE CELLKEY = 19"), (Rowset{{"'kept'"}}));
}

TEST_F(TransactionsTest, AHeldRowMakesAnotherSessionsWriteWaitUntilCommit) {
  Ok("BEGIN TRAN; UPDATE CELL SET ONCELL = 7 WHERE CELLKEY = 17");
  auto blocked = Later("UPDATE CELL SET ONCELL = 8 WHERE CELLKEY = 17");
  EXPECT_EQ(blocked.wait_for(300ms), std::future_status::timeout) << "the write did not wait";
  // Rows nobody holds are free meanwhile.
  auto free = RunOn(*other_, "SET LOCK_TIMEOUT 0; UPDATE CELL SET ONCELL = 3 WHERE CELLKEY = 18");
  EXPECT_EQ(free.Error(), 0) << free.ErrorText();
  Ok("COMMIT");
  ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
  auto sink = blocked.get();
  EXPECT_EQ(sink.Error(), 0) << sink.ErrorText();
  EXPECT_EQ(Rows("SELECT ONCELL FROM CELL WHERE CELLKEY = 17"), (Rowset{{"8"}}));
}

// However the row is held (changed, moved out of the waiter's condition, deleted), the waiter
// meets it as it was, waits, and after the rollback writes the restored row.
TEST_F(TransactionsTest, RollbackReleasesTheWaiterOnTheRestoredRow) {
  const char* holds[] = {
      "UPDATE CELL SET ONCELL = 99 WHERE CELLKEY = 17",
      "UPDATE CELL SET CELLKEY = 170 WHERE CELLKEY = 17",
      "DELETE FROM CELL WHERE CELLKEY = 17",
  };
  for (const char* hold : holds) {
    SCOPED_TRACE(hold);
    Ok("UPDATE CELL SET ONCELL = 0 WHERE CELLKEY = 17");
    Ok(std::string("BEGIN TRAN; ") + hold);
    auto blocked = Later("UPDATE CELL SET ONCELL = ONCELL + 10 WHERE CELLKEY = 17");
    EXPECT_EQ(blocked.wait_for(300ms), std::future_status::timeout);
    Ok("ROLLBACK");
    ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
    auto sink = blocked.get();
    EXPECT_EQ(sink.Error(), 0) << sink.ErrorText();
    ASSERT_EQ(sink.done.size(), 1u);
    EXPECT_EQ(sink.done[0].count, 1);
    EXPECT_EQ(Rows("SELECT ONCELL FROM CELL WHERE CELLKEY = 17"), (Rowset{{"10"}}));
  }
}

// What each kind of statement meets on a row another session holds, with a short time-out.
TEST_F(TransactionsTest, LockTimeOutEndsTheStatementWithError1222) {
  struct Case {
    const char* statement;
    bool waits;  // false: runs at once (a read that takes no shared lock, a new row)
  };
  const Case cases[] = {
      {"UPDATE CELL SET ONCELL = 8 WHERE CELLKEY = 17", true},
      {"DELETE FROM CELL WHERE UniqueKey = 1", true},
      {"SELECT ONCELL FROM CELL WHERE CELLKEY = 17", true},
      {"SELECT Count(*) FROM CELL", true},
      {"SELECT Count(*) FROM CELL WHERE ONCELL = 0", true},  // the row as it was matches
      {"INSERT INTO CELL (CELLKEY) SELECT 1", false},
      {"SELECT ONCELL FROM CELL (readuncommitted) WHERE CELLKEY = 17", false},
      {"SELECT ONCELL FROM CELL WITH (NOLOCK) WHERE CELLKEY = 17", false},
      {"SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED; SELECT ONCELL FROM CELL WHERE CELLKEY = "
       "17",
       false},
  };
  Ok("BEGIN TRAN; UPDATE CELL SET ONCELL = 5 WHERE CELLKEY = 17");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    auto start = std::chrono::steady_clock::now();
    auto sink = RunOn(*other_, std::string("SET LOCK_TIMEOUT 200; ") + c.statement + "; SELECT 42");
    auto waited = std::chrono::steady_clock::now() - start;
    if (c.waits) {
      EXPECT_GE(waited, 190ms);
      EXPECT_LT(waited, 3s);
      ASSERT_EQ(sink.Error(), 1222);
      const ServerMessage* m = nullptr;
      for (const auto& x : sink.messages)
        if (x.number == 1222) m = &x;
      EXPECT_EQ(m->text, "Lock request time out period exceeded.");
      EXPECT_EQ(m->severity, 16);
      EXPECT_EQ(m->state, 51);
    } else {
      // The holder never lets go here: a statement that waited would have ended in 1222.
      EXPECT_EQ(sink.Error(), 0) << sink.ErrorText();
    }
    // The batch goes on after the time-out.
    ASSERT_FALSE(sink.rows.empty());
    EXPECT_EQ(sink.rows.back(), (std::vector<std::string>{"42"}));
  }
  EXPECT_EQ(RunOn(*other_, "SELECT @@LOCK_TIMEOUT").rows, (Rowset{{"200"}}));
  auto none = RunOn(*other_, "SET LOCK_TIMEOUT 0; UPDATE CELL SET ONCELL = 1 WHERE CELLKEY = 17");
  EXPECT_EQ(none.Error(), 1222);
  Ok("ROLLBACK");
  EXPECT_EQ(Rows("SELECT ONCELL FROM CELL WHERE CELLKEY = 17"), (Rowset{{"0"}}));
}

// A second session inserting the key of a row the first deleted must wait: the rollback will
// bring that row back.
TEST_F(TransactionsTest, InsertOfAKeyAnotherTransactionDeletedWaits) {
  Ok("BEGIN TRAN; DELETE FROM CELL WHERE UniqueKey = 2");
  auto sink = RunOn(*other_,
                    "SET LOCK_TIMEOUT 100; SET IDENTITY_INSERT CELL ON; "
                    "INSERT INTO CELL (UniqueKey, CELLKEY) VALUES (2, 99)");
  EXPECT_EQ(sink.Error(), 1222) << sink.ErrorText();
  Ok("ROLLBACK");
  EXPECT_EQ(Rows("SELECT CELLKEY FROM CELL WHERE UniqueKey = 2"), (Rowset{{"18"}}));
}

// A ## table keeps its rules inside a transaction: a second CREATE fails at once with 2714,
// and rows held in a table the holder dropped do not hold the rows of the next table of that
// name.
TEST_F(TransactionsTest, GlobalTemporaryTablesInsideATransaction) {
  Ok("BEGIN TRAN; CREATE TABLE ##LOCKT (UserName VARCHAR(30)); "
     "INSERT INTO ##LOCKT VALUES ('first')");
  auto start = std::chrono::steady_clock::now();
  auto refused = RunOn(*other_, "CREATE TABLE ##LOCKT (UserName VARCHAR(30))");
  EXPECT_EQ(refused.Error(), 2714);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
  Ok("DROP TABLE ##LOCKT");
  auto again = RunOn(*other_,
                     "SET LOCK_TIMEOUT 0; CREATE TABLE ##LOCKT (UserName VARCHAR(30)); "
                     "INSERT INTO ##LOCKT VALUES ('second'); SELECT UserName FROM ##LOCKT");
  EXPECT_EQ(again.Error(), 0) << again.ErrorText();
  EXPECT_EQ(again.rows, (Rowset{{"'second'"}}));
  Ok("ROLLBACK");  // the dropped table's rows are not put back into the new one
  EXPECT_EQ(RunOn(*other_, "SELECT UserName FROM ##LOCKT").rows, (Rowset{{"'second'"}}));
}

TEST_F(TransactionsTest, ASessionThatEndsRollsBackAndWakesItsWaiters) {
  ASSERT_EQ(RunOn(*other_, "BEGIN TRAN; UPDATE CELL SET NOTE = 'held' WHERE CELLKEY = 18").Error(),
            0);
  auto third = engine_->OpenSession(53, "JAIL");
  auto blocked = std::async(std::launch::async, [&] {
    return RunOn(*third, "UPDATE CELL SET ONCELL = 30 WHERE CELLKEY = 18");
  });
  EXPECT_EQ(blocked.wait_for(300ms), std::future_status::timeout);
  other_.reset();
  ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(blocked.get().Error(), 0);
  EXPECT_EQ(Rows("SELECT ONCELL, NOTE FROM CELL WHERE CELLKEY = 18"), (Rowset{{"30", "'b'"}}));
}

// The client's ATTENTION (its query time-out) reaches the engine as a cancelled sink; a
// session waiting on a row must notice it and stop waiting, leaving nothing changed.
TEST_F(TransactionsTest, CancelEndsAWaitWithoutWriting) {
  class CancelLater : public RecordingSink {
   public:
    bool Cancelled() const override { return cancel; }
    std::atomic<bool> cancel{false};
  } sink;
  Ok("BEGIN TRAN; UPDATE CELL SET ONCELL = 7 WHERE CELLKEY = 17");
  auto waiting = std::async(std::launch::async, [&] {
    other_->Execute("UPDATE CELL SET ONCELL = 8 WHERE CELLKEY = 17; SELECT 1", {}, sink);
  });
  EXPECT_EQ(waiting.wait_for(200ms), std::future_status::timeout);
  sink.cancel = true;
  ASSERT_EQ(waiting.wait_for(2s), std::future_status::ready);
  EXPECT_TRUE(sink.rows.empty());
  Ok("COMMIT");
  EXPECT_EQ(Rows("SELECT ONCELL FROM CELL WHERE CELLKEY = 17"), (Rowset{{"7"}}));
  // The session is usable again, and holds nothing.
  EXPECT_EQ(RunOn(*other_, "SELECT @@TRANCOUNT").rows, (Rowset{{"0"}}));
}

TEST_F(TransactionsTest, TwoSessionsWaitingOnEachOtherEndInADeadlockVictim) {
  Ok("BEGIN TRAN; UPDATE CELL SET ONCELL = 1 WHERE CELLKEY = 17");
  ASSERT_EQ(RunOn(*other_, "BEGIN TRAN; UPDATE CELL SET ONCELL = 2 WHERE CELLKEY = 18").Error(), 0);
  auto first = std::async(std::launch::async,
                          [&] { return Run("UPDATE CELL SET ONCELL = 11 WHERE CELLKEY = 18"); });
  EXPECT_EQ(first.wait_for(200ms), std::future_status::timeout);
  auto victim = RunOn(*other_, "UPDATE CELL SET ONCELL = 12 WHERE CELLKEY = 17; SELECT 5");
  EXPECT_EQ(victim.Error(), 1205);
  EXPECT_EQ(victim.ErrorText(),
            "Transaction (Process ID 52) was deadlocked on lock resources with another process "
            "and has been chosen as the deadlock victim. Rerun the transaction.");
  EXPECT_TRUE(victim.rows.empty()) << "1205 ends the batch";
  ASSERT_EQ(first.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(first.get().Error(), 0);
  EXPECT_EQ(RunOn(*other_, "SELECT @@TRANCOUNT").rows, (Rowset{{"0"}}));
  Ok("COMMIT");
  EXPECT_EQ(Rows("SELECT ONCELL FROM CELL WHERE CELLKEY IN (17, 18) ORDER BY CELLKEY"),
            (Rowset{{"1"}, {"11"}}));
}

}  // namespace
}  // namespace standin::test
