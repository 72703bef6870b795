#pragma once
// Runs the statements of one batch for one session, delivering results to the sink.
// The caller holds the engine's mutex through `lock`; it is let go only while the sink
// takes a row, so a slow client never holds up the other sessions.

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "standin/Engine.h"
#include "standin/engine/Plan.h"

namespace standin {

class Executor {
 public:
  Executor(EngineCore& core, SessionState& session, std::span<const Param> params, ResultSink& sink,
           std::unique_lock<std::mutex>& lock)
      : core_(core), session_(session), params_(params), sink_(sink), lock_(lock) {}

  // Runs one statement; `cached` is the statement's plan slot in the batch cache.
  // Throws SqlError; the caller reports it.
  void Run(const Statement& statement, std::shared_ptr<Plan>& cached);
  bool cancelled() const { return cancelled_; }
  // Decides an IF: the statement to run next, or nullptr (the IF has then ended) when the
  // condition chose no branch.
  const Statement* If(const IfStmt& s);

 private:
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;

  void RunPlan(Plan& plan);
  // Steps a write; rows it wrote that another session holds are put back and waited for.
  // False when the client cancelled during a wait.
  bool StepWrite(Plan& plan, Execution& exec, Deadline& deadline, int& rc);
  void Bind(Plan& plan) { BindTo(plan, plan.stmt.get()); }
  void BindTo(const Plan& plan, sqlite3_stmt* stmt);
  // Waits while another session holds a row the plan reads or writes (reads with READ
  // UNCOMMITTED wait for nothing). False when the client cancelled meanwhile. Throws 1222 when
  // the session's lock time-out runs out, 1205 when this session closes a circle of waits.
  bool AwaitRows(Plan& plan, Deadline& deadline);
  int ProbeHolder(const Plan& plan);
  int ImageHolder(const Plan& plan, const Plan::Probe& probe);
  bool WaitFor(int holder, bool write, Deadline& deadline);
  void EndTran(const EndTranStmt& s);
  SqlError StepError(Plan& plan, Execution& exec);
  void AfterInsert(Plan& plan);

  void CreateTable(const CreateTableStmt& s);
  void DropTable(const DropTableStmt& s);
  // One table of a DROP TABLE; sets readerInTheWay_ when SQLite refused it for a reader.
  void DropOneTable(const ObjectName& name, bool ifExists);
  void CreateIndex(const CreateIndexStmt& s);
  void CreateDatabase(const CreateDatabaseStmt& s);
  void Use(const UseStmt& s);
  void Set(const SetStmt& s);
  void Exec(const ExecStmt& s);
  void Done(bool hasCount, std::int64_t count);

  EngineCore& core_;
  SessionState& session_;
  std::span<const Param> params_;
  ResultSink& sink_;
  std::unique_lock<std::mutex>& lock_;
  bool cancelled_ = false;
  // How long a wait sleeps before it looks for the client's ATTENTION again.
  static constexpr std::chrono::milliseconds kWaitSlice{20};
  bool readerInTheWay_ = false;
  // How many times (a millisecond apart) a DROP waits for readers: about five seconds.
  static constexpr int kDropAttempts = 5000;
};

// sp_pkeys, sp_columns, sp_tables. False when the name is none of them.
bool RunProcedure(EngineCore& core, SessionState& session, std::string_view name,
                  std::span<const Param> params, ResultSink& sink);

}  // namespace standin
