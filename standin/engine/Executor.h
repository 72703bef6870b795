#pragma once
// Runs the statements of one batch for one session, delivering results to the sink.
// The caller holds the engine's mutex through `lock`; it is let go only while the sink
// takes a row, so a slow client never holds up the other sessions.

#include <memory>
#include <mutex>
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

 private:
  void RunPlan(Plan& plan);
  void Bind(Plan& plan);
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
  void If(const IfStmt& s);
  void Done(bool hasCount, std::int64_t count);

  EngineCore& core_;
  SessionState& session_;
  std::span<const Param> params_;
  ResultSink& sink_;
  std::unique_lock<std::mutex>& lock_;
  bool cancelled_ = false;
  bool readerInTheWay_ = false;
  // How many times (a millisecond apart) a DROP waits for readers: about five seconds.
  static constexpr int kDropAttempts = 5000;
};

// sp_pkeys, sp_columns, sp_tables. False when the name is none of them.
bool RunProcedure(EngineCore& core, SessionState& session, std::string_view name,
                  std::span<const Param> params, ResultSink& sink);

}  // namespace standin
