// Statements meeting rows that another session's open transaction holds: they wait, as SQL
// Server's lock requests do, until the rows are let go, the session's LOCK_TIMEOUT runs out,
// a deadlock is found, or the client cancels.

#include <algorithm>

#include "standin/engine/Executor.h"
#include "standin/engine/SqlError.h"
#include "standin/engine/Transactions.h"

namespace standin {

int Executor::ProbeHolder(const Plan& plan) {
  for (const Plan::Probe& probe : plan.probes) {
    if (!core_.locks.OthersHold(probe.lockTable, session_.spid)) continue;
    auto st = Prepare(core_.db(), probe.sql);
    BindTo(plan, st.get());
    const std::vector<int> key = probe.table->KeyColumns();
    Execution exec;
    exec.session = &session_;
    core_.current = &exec;
    int holder = 0;
    // A probe that fails (a conversion in the WHERE) finds nothing: the statement itself
    // reports the error.
    while (!holder && sqlite3_step(st.get()) == SQLITE_ROW) {
      std::string k = RowKey(*probe.table, sqlite3_column_int64(st.get(), 0), [&](int column) {
        auto at = std::find(key.begin(), key.end(), column);
        return sqlite3_column_value(st.get(), static_cast<int>(at - key.begin()));
      });
      holder = core_.locks.Holder(probe.lockTable, k, session_.spid);
    }
    if (!holder && !probe.imageSql.empty()) holder = ImageHolder(plan, probe);
    core_.current = nullptr;
    if (holder) return holder;
  }
  return 0;
}

int Executor::ImageHolder(const Plan& plan, const Plan::Probe& probe) {
  const auto* images = core_.locks.Images(probe.lockTable);
  if (!images) return 0;
  StmtPtr st;
  for (const RowLocks::Image& image : *images) {
    if (image.spid == session_.spid) continue;
    if (!st) {
      st = Prepare(core_.db(), probe.imageSql);
      BindTo(plan, st.get());
    }
    sqlite3_reset(st.get());
    for (std::size_t i = 0; i < image.values->size(); ++i)
      sqlite3_bind_value(st.get(), probe.imageFirstParam + static_cast<int>(i),
                         (*image.values)[i].get());
    if (sqlite3_step(st.get()) == SQLITE_ROW) return image.spid;
  }
  return 0;
}

bool Executor::AwaitRows(Plan& plan, Deadline& deadline) {
  if (plan.returnsRows && session_.readUncommitted) return true;
  while (int holder = ProbeHolder(plan))
    if (!WaitFor(holder, !plan.returnsRows, deadline)) return false;
  return true;
}

bool Executor::WaitFor(int holder, bool write, Deadline& deadline) {
  using Clock = std::chrono::steady_clock;
  auto now = Clock::now();
  if (!deadline && session_.lockTimeoutMs >= 0)
    deadline = now + std::chrono::milliseconds(session_.lockTimeoutMs);
  if (deadline && now >= *deadline) throw LockTimeoutError(write);
  if (!core_.locks.StartWaiting(session_.spid, holder)) {
    // SQL Server picks one victim of a deadlock; here it is the session that closed the circle.
    RollbackTransaction(core_, session_, &sink_);
    throw DeadlockVictimError(session_.spid);
  }
  auto slice = deadline ? std::min<Clock::duration>(kWaitSlice, *deadline - now)
                        : Clock::duration(kWaitSlice);
  core_.locks.released.wait_for(lock_, slice);
  core_.locks.StopWaiting(session_.spid);
  // Looking for ATTENTION may read the socket: the other sessions go on meanwhile.
  lock_.unlock();
  bool cancel = sink_.PollCancel();
  lock_.lock();
  if (cancel) cancelled_ = true;
  return !cancel;
}

bool Executor::StepWrite(Plan& plan, Execution& exec, Deadline& deadline, int& rc) {
  sqlite3_stmt* stmt = plan.stmt.get();
  UndoTarget target;
  target.database = plan.targetDatabase;
  target.table = plan.target;
  for (;;) {
    bool record = session_.tranCount > 0 || core_.locks.OthersHold(plan.lockTable, session_.spid);
    exec.record = record ? &target : nullptr;
    core_.current = &exec;
    rc = sqlite3_step(stmt);
    core_.current = nullptr;
    exec.record = nullptr;
    if (rc != SQLITE_DONE || !record) return true;  // SQLite took back a failed statement itself
    int holder = 0;
    for (const UndoEntry& e : target.entries) {
      for (const std::string* key : {&e.oldKey, &e.newKey})
        if (!holder && !key->empty())
          holder = core_.locks.Holder(plan.lockTable, *key, session_.spid);
    }
    if (!holder) break;
    // A row of another transaction (an INSERT of a key it deleted, an UPDATE onto its key):
    // undo this statement, wait for that row, and run the statement again.
    ApplyUndo(core_, target.entries);
    sqlite3_reset(stmt);
    if (!WaitFor(holder, true, deadline) || !AwaitRows(plan, deadline)) return false;
  }
  if (session_.tranCount > 0) {
    for (UndoEntry& e : target.entries) {
      if (!e.oldKey.empty()) core_.locks.Take(plan.lockTable, e.oldKey, session_.spid, e.old);
      if (!e.newKey.empty()) core_.locks.Take(plan.lockTable, e.newKey, session_.spid, nullptr);
      session_.undo.push_back(std::move(e));
    }
  }
  return true;
}

void Executor::EndTran(const EndTranStmt& s) {
  if (session_.tranCount == 0)
    throw s.commit ? MakeError(3902,
                               "The COMMIT TRANSACTION request has no corresponding BEGIN "
                               "TRANSACTION.")
                   : MakeError(3903,
                               "The ROLLBACK TRANSACTION request has no corresponding BEGIN "
                               "TRANSACTION.");
  if (s.commit)
    CommitTransaction(core_, session_, &sink_);
  else
    RollbackTransaction(core_, session_, &sink_);
  Done(false, 0);
}

}  // namespace standin
