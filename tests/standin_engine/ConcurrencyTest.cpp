// Sessions on their own threads, as the server runs them.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "RecordingSink.h"

namespace standin::test {

// A session taking rows must not hold up the others: a client that reads slowly (or waits
// on its other connection) would otherwise stall the whole server.
TEST_F(EngineTest, OtherSessionsRunWhileRowsAreBeingTaken) {
  Ok("CREATE TABLE R (A INT); INSERT INTO R VALUES (1), (2), (3)");
  std::mutex m;
  std::condition_variable cv;
  bool otherDone = false, readerInRow = false;

  class Waiting : public RecordingSink {
   public:
    Waiting(std::mutex& m, std::condition_variable& cv, bool& done, bool& inRow)
        : m_(m), cv_(cv), done_(done), inRow_(inRow) {}
    void Row(std::span<const Value> values) override {
      RecordingSink::Row(values);
      if (rows.size() != 1) return;
      std::unique_lock lock(m_);
      inRow_ = true;
      cv_.notify_all();
      sawOther = cv_.wait_for(lock, std::chrono::seconds(10), [&] { return done_; });
    }
    bool sawOther = false;

   private:
    std::mutex& m_;
    std::condition_variable& cv_;
    bool& done_;
    bool& inRow_;
  } reader(m, cv, otherDone, readerInRow);

  std::thread readerThread([&] { session_->Execute("SELECT A FROM R ORDER BY A", {}, reader); });
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return readerInRow; }));
  }
  auto writer = engine_->OpenSession(52, "JAIL");
  // Once the reader holds its first row, the writer's statements must still run.
  auto sink = RunOn(*writer, "CREATE TABLE ##lock (A INT); INSERT INTO R VALUES (4)");
  {
    std::lock_guard lock(m);
    otherDone = true;
  }
  cv.notify_all();
  readerThread.join();
  EXPECT_EQ(sink.Error(), 0) << sink.ErrorText();
  EXPECT_TRUE(reader.sawOther);
  EXPECT_GE(reader.rows.size(), 3u);
  EXPECT_EQ(Rows("SELECT Count(*) FROM R"), (Rowset{{"4"}}));
}

TEST_F(EngineTest, OneHolderAtATimeUnderContention) {
  constexpr int kThreads = 4, kRounds = 150;
  std::atomic<int> holders{0}, maxHolders{0}, granted{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto s = engine_->OpenSession(100 + t, "JAIL");
      for (int i = 0; i < kRounds; ++i) {
        auto create = RunOn(*s, "CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1](A INT)");
        if (create.Error() != 0) {
          EXPECT_EQ(create.Error(), 2714);
          continue;
        }
        ++granted;
        int now = ++holders;
        int seen = maxHolders.load();
        while (now > seen && !maxHolders.compare_exchange_weak(seen, now)) {
        }
        RunOn(*s, "SELECT Count(CELLKEY) FROM DETENTIA_missing");  // work while holding
        --holders;
        EXPECT_EQ(RunOn(*s, "DROP TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1]").Error(), 0);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(maxHolders.load(), 1);
  EXPECT_GT(granted.load(), 0);
  EXPECT_EQ(Run("SELECT * FROM [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1]").Error(), 208);
}

}  // namespace standin::test
