#pragma once
// A tiny engine for the protocol tests: a handful of canned statements whose results exercise
// every column type, NULLs, CHAR padding, large results, messages and database changes. It
// records what reaches it, so tests can check what the protocol side handed over.

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "standin/Engine.h"

namespace standin::test {

struct FakeRecord {
  int spid;
  std::string what;  // "open DB", "exec SQL", "proc NAME", "close"
  std::vector<Param> params;
};

class FakeEngine : public Engine {
 public:
  std::unique_ptr<Session> OpenSession(int spid, const std::string& database) override;
  void RunScript(std::string_view) override {}

  std::vector<FakeRecord> Records() {
    std::lock_guard lock(mutex_);
    return records_;
  }
  bool Saw(const std::string& what) {
    std::lock_guard lock(mutex_);
    return std::any_of(records_.begin(), records_.end(),
                       [&](const FakeRecord& r) { return r.what == what; });
  }
  void Record(FakeRecord r) {
    std::lock_guard lock(mutex_);
    records_.push_back(std::move(r));
  }

 private:
  std::mutex mutex_;
  std::vector<FakeRecord> records_;
};

// Statements it knows:
//   SELECT TYPED          one row of every type, then a row of NULLs
//   SELECT MANY n         n rows of (INT, VARCHAR(20))
//   USE name              changes the database
//   FAIL                  error 208 "Invalid object name 'nosuch'."
//   ECHO ...              one row per parameter: name, declared type, value as text
//   TWO                   two statements: an UPDATE of 3 rows and a SELECT of 1 row
//   anything else         a statement without a count
class FakeSession : public Session {
 public:
  FakeSession(FakeEngine& engine, int spid, std::string db)
      : engine_(engine), spid_(spid), db_(std::move(db)) {}
  ~FakeSession() override { engine_.Record({spid_, "close", {}}); }
  int Spid() const override { return spid_; }
  const std::string& Database() const override { return db_; }
  void Execute(std::string_view sql, std::span<const Param> params, ResultSink& sink) override;
  bool ExecuteProcedure(std::string_view name, std::span<const Param> params,
                        ResultSink& sink) override;

 private:
  FakeEngine& engine_;
  int spid_;
  std::string db_;
};

}  // namespace standin::test
