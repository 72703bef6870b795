#pragma once
// A session's transaction: BEGIN nests, the outermost COMMIT keeps the writes and lets go of
// the rows, ROLLBACK (at any level, or when the session ends) puts the rows back first. The
// caller holds the engine's mutex; `sink` (may be null) hears of the outermost begin and end.

#include "standin/Engine.h"
#include "standin/engine/EngineCore.h"

namespace standin {

void BeginTransaction(EngineCore& core, SessionState& session, ResultSink* sink);
// Ends one level; the last one commits.
void CommitTransaction(EngineCore& core, SessionState& session, ResultSink* sink);
// False when no transaction was open.
bool RollbackTransaction(EngineCore& core, SessionState& session, ResultSink* sink);

// SQL Server's texts for what a wait on a row can end in.
SqlError LockTimeoutError(bool statementTerminated);
SqlError DeadlockVictimError(int spid);

}  // namespace standin
