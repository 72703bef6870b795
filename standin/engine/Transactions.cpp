#include "standin/engine/Transactions.h"

#include "standin/engine/SqlError.h"

namespace standin {

namespace {

void Finish(EngineCore& core, SessionState& session, ResultSink* sink,
            ResultSink::Transaction how) {
  std::uint64_t id = session.transactionId;
  session.undo.clear();
  session.tranCount = 0;
  session.transactionId = 0;
  core.locks.ReleaseAll(session.spid);
  if (sink) sink->TransactionChanged(how, id);
}

}  // namespace

void BeginTransaction(EngineCore& core, SessionState& session, ResultSink* sink) {
  if (session.tranCount++ > 0) return;
  session.transactionId = core.NewTransactionId();
  if (sink) sink->TransactionChanged(ResultSink::Transaction::Begin, session.transactionId);
}

void CommitTransaction(EngineCore& core, SessionState& session, ResultSink* sink) {
  if (session.tranCount > 1) {
    --session.tranCount;
    return;
  }
  Finish(core, session, sink, ResultSink::Transaction::Commit);
}

bool RollbackTransaction(EngineCore& core, SessionState& session, ResultSink* sink) {
  if (session.tranCount == 0) return false;
  try {
    ApplyUndo(core, session.undo);
  } catch (...) {
    Finish(core, session, sink, ResultSink::Transaction::Rollback);
    throw;
  }
  Finish(core, session, sink, ResultSink::Transaction::Rollback);
  return true;
}

SqlError LockTimeoutError(bool statementTerminated) {
  auto e = MakeError(1222, "Lock request time out period exceeded.", 51, 16);
  e.statementTerminated = statementTerminated;
  return e;
}

SqlError DeadlockVictimError(int spid) {
  auto e = MakeError(1205,
                     FormatMessage("Transaction (Process ID %s) was deadlocked on lock resources "
                                   "with another process and has been chosen as the deadlock "
                                   "victim. Rerun the transaction.",
                                   {std::to_string(spid)}),
                     51, 13);
  e.abortsBatch = true;
  return e;
}

}  // namespace standin
