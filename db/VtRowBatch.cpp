#include "db/VtRowBatch.h"

#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/SqlBatch.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "db/VtMSAccess.h"
#include "db/VtRecordLock.h"

namespace bunkmere {

namespace {

// Stops the writes at a row the UPDATE did not find exactly once, as a single UPDATE's check
// does; the rows after it are then not written. The error's number is RAISERROR's own, 50000.
constexpr const char* kUpdateGuard = "IF @@ROWCOUNT <> 1 RAISERROR(N'Update failed', 16, 1)";
// The row set a failed release answers with: the row's place among the rows written.
constexpr std::string_view kReleaseFailed = "BunkmereReleaseFailed";

void Run(const std::function<void()>& ACallback) {
  if (ACallback) ACallback();
}

}  // namespace

void TVtRowBatch::AddCount(std::string ACountSql, std::string ACounting) {
  TBatchRow row;
  row.Counting = std::move(ACounting);
  row.FCountSql = std::move(ACountSql);
  FNext.push_back(std::move(row));
}

void TVtRowBatch::AddRow(TVtMSTable& ATable, std::string ACountSql, std::string AName,
                         std::string ACounting) {
  TBatchRow row;
  row.Table = &ATable;
  row.RecNo = static_cast<std::size_t>(ATable.RecNo());
  row.Name = std::move(AName);
  row.Counting = std::move(ACounting);
  row.FCountSql = std::move(ACountSql);
  row.FReread = ATable.RefreshStatement(row.RecNo);
  row.FStrict = ATable.Options().StrictUpdate();
  // As a single edit's lock: a table that makes no locks, or a row without a key to name its
  // lock by, goes unguarded.
  const TField* key = ATable.FindField("UniqueKey");
  if (ATable.RecordLocksMake() && ATable.Connection() != nullptr && key != nullptr) {
    row.FLockTable = ATable.ReportedTableName();
    row.FLockKey = key->AsString();
    row.FLockName = RecordLockName(ATable.Connection()->Database(), row.FLockTable, row.FLockKey);
  }
  FNext.push_back(std::move(row));
}

bool TVtRowBatch::AddWrites(TSqlBatch& ABatch, std::vector<TPlace>& APlaces,
                            std::vector<std::size_t>& AListings) const {
  bool locks = false;
  std::size_t n = 0;
  for (const std::vector<TBatchRow>* rows : {&FTaken, &FRelease}) {
    for (const TBatchRow& row : *rows) {
      for (const std::string& listing : row.Listings) {
        ABatch.Add(listing);
        APlaces.push_back({true, n, TStep::Listing});
        AListings.push_back(n);
      }
      if (row.Update) {
        ABatch.Add(row.Update->Sql, row.Update->Params);
        APlaces.push_back({true, n, TStep::Update});
        if (row.FStrict) {
          ABatch.Add(kUpdateGuard);
          APlaces.push_back({true, n, TStep::Guard});
        }
      }
      if (row.Locked) {
        // A release that fails stops nothing after it: its own CATCH names the row, and the
        // DROP is tried again on its own once the request is read.
        locks = true;
        ABatch.Add("BEGIN TRY\n" + LockTableDropStatement(row.FLockName, row.FObjectId) +
                   "\nEND TRY\nBEGIN CATCH\nSELECT " + std::to_string(n) + " AS " +
                   std::string(kReleaseFailed) + "\nEND CATCH");
        APlaces.push_back({true, n, TStep::Drop});
      }
      ++n;
    }
  }
  return locks;
}

bool TVtRowBatch::AddTakes(const TMSConnection& AConnection, std::vector<TBatchRow>& ARows,
                           TSqlBatch& ABatch, std::vector<TPlace>& APlaces) const {
  bool locks = false;
  for (std::size_t n = 0; n < ARows.size(); ++n) {
    TBatchRow& row = ARows[n];
    if (!row.FLockName.empty()) {
      locks = true;
      ABatch.Add(LockTableCreateStatement(row.FLockName));
      APlaces.push_back({false, n, TStep::Create});
      ABatch.Add(LockHolderInsertStatement(
          row.FLockName, OwnLockHolder(AConnection, row.FLockTable, row.FLockKey)));
      APlaces.push_back({false, n, TStep::Insert});
      ABatch.Add(LockTableObjectIdStatement(row.FLockName));
      APlaces.push_back({false, n, TStep::ObjectId});
    }
    if (row.FReread) {
      ABatch.Add(row.FReread->Sql, row.FReread->Params);
      APlaces.push_back({false, n, TStep::Reread});
    }
    ABatch.Add(row.FCountSql);
    APlaces.push_back({false, n, TStep::Count});
  }
  return locks;
}

std::string TVtRowBatch::Doing(const TPlace& APlace, const std::vector<TBatchRow>& ARows) const {
  if (APlace.Writing) {
    const TBatchRow& row =
        APlace.Row < FTaken.size() ? FTaken[APlace.Row] : FRelease[APlace.Row - FTaken.size()];
    return APlace.Step == TStep::Drop && !row.Update ? "releasing " + row.Name
                                                     : "writing " + row.Name;
  }
  const TBatchRow& row = ARows[APlace.Row];
  return APlace.Step == TStep::Count ? row.Counting : "locking and re-reading " + row.Name;
}

void TVtRowBatch::WritesDone(TMSConnection& AConnection, std::size_t AStop, bool AStopWritten) {
  const auto release = [this, &AConnection](TBatchRow& ARow) {
    if (ARow.FReleaseFailed)
      FRetry.emplace_back(ARow.FLockName, ARow.Table);
    else if (ARow.Locked)
      AConnection.NoteLockDropped(ARow.FLockName);
    ARow.Locked = false;
  };
  const auto finish = [&release](TBatchRow& ARow) {
    if (ARow.Sent) ARow.Sent(ARow);
    release(ARow);
    Run(ARow.Written);
  };
  const std::size_t taken = FTaken.size();
  for (std::size_t n = 0; n < taken && n < AStop; ++n) finish(FTaken[n]);
  if (AStop < taken) {
    TBatchRow& stopped = FTaken[AStop];
    if (stopped.Sent) stopped.Sent(stopped);
    stopped.Sent = nullptr;
    if (AStopWritten) {
      Run(stopped.Written);
      stopped.Written = nullptr;
      stopped.Update.reset();
    }
    FTaken.erase(FTaken.begin(), FTaken.begin() + static_cast<std::ptrdiff_t>(AStop));
    return;
  }
  FTaken.clear();
  const std::size_t released = std::min(AStop - taken, FRelease.size());
  for (std::size_t n = 0; n < released; ++n) release(FRelease[n]);
  FRelease.erase(FRelease.begin(), FRelease.begin() + static_cast<std::ptrdiff_t>(released));
}

void TVtRowBatch::LoseSession(TMSConnection& AConnection) noexcept {
  // Ending the session makes the server drop every lock table it created, whichever statement
  // it stopped at; the next statement opens a new session.
  AConnection.EndServerSession();
  FTaken.clear();
  FRelease.clear();
}

TTakeResult TVtRowBatch::Take(TMSConnection& AConnection, std::string& ADoing) {
  if (FFailed) throw EDatabaseError("The rows of an earlier request that failed are not let go");
  FFailed = true;  // until the request has been answered
  TTakeResult result = Send(AConnection, ADoing);
  FFailed = false;
  return result;
}

TTakeResult TVtRowBatch::Send(TMSConnection& AConnection, std::string& ADoing) {
  // A row whose lock went with its server session (a release that could not be retried ends
  // the session) cannot be written: another program may have locked and changed it since.
  for (const TBatchRow& row : FTaken)
    if (row.Locked && !AConnection.HoldsLock(row.FLockName, row.Table)) {
      ADoing = "writing " + row.Name;
      throw EDatabaseError("The server session that held the lock of " + row.Name +
                           " ended before the row was written; it and the rows after it are "
                           "not written.");
    }
  std::erase_if(FRelease, [&AConnection](const TBatchRow& ARow) {
    return !AConnection.HoldsLock(ARow.FLockName, ARow.Table);
  });
  // Releases that failed are tried again once the request is read, however it ends.
  struct TRetry {
    TVtRowBatch& Batch;
    TMSConnection& Connection;
    ~TRetry() {
      for (const auto& [name, table] : Batch.FRetry) DropTakenLockTable(Connection, name, table);
      Batch.FRetry.clear();
    }
  } retry{*this, AConnection};
  std::vector<TBatchRow> rows = std::move(FNext);
  FNext.clear();
  TSqlBatch batch;
  std::vector<TPlace> places;
  std::vector<std::size_t> listings;
  const bool lockWrites = AddWrites(batch, places, listings);
  const std::size_t writes = batch.Size();
  const bool lockTakes = AddTakes(AConnection, rows, batch, places);

  TTakeResult result;
  if (batch.Empty()) {
    WritesDone(AConnection, FTaken.size() + FRelease.size(), false);
    FTaken = std::move(rows);
    result.Reached = FTaken.size();
    return result;
  }
  // What a failure nobody can place (a time-out) is reported against.
  ADoing.clear();
  for (const TBatchRow& row : rows)
    if (!row.Name.empty()) {
      ADoing = "locking, re-reading and counting " + row.Name;
      break;
    }
  if (ADoing.empty() && !rows.empty()) ADoing = rows.front().Counting;
  if (ADoing.empty())
    ADoing = "writing " + (FTaken.empty() ? FRelease.front().Name : FTaken.front().Name);

  std::size_t stop = rows.size();  // the row whose taking stopped
  std::string refusedLock;
  bool answered = false;  // the server's CATCH placed the failure: the session is sound
  try {
    TSqlBatchReader reader(AConnection.ServerConnection().Statement(), batch);
    // The writes return no row set but a failed release's: the first other one is the first
    // row's, or the error's.
    bool have = reader.NextRowSet();
    std::size_t listed = 0;  // the listings read, in order
    while (have) {
      if (reader.RowSetName() == kReleaseFailed) {
        const std::optional<std::int64_t> at = reader.ReadInteger();
        const std::size_t n = at ? static_cast<std::size_t>(*at) : FTaken.size() + FRelease.size();
        if (n < FTaken.size())
          FTaken[n].FReleaseFailed = true;
        else if (n - FTaken.size() < FRelease.size())
          FRelease[n - FTaken.size()].FReleaseFailed = true;
      } else if (listed < listings.size()) {
        const std::size_t n = listings[listed++];
        TBatchRow& row = n < FTaken.size() ? FTaken[n] : FRelease[n - FTaken.size()];
        row.Listed.push_back(reader.ReadTexts());
      } else {
        break;  // the first row set of the rows taken
      }
      have = reader.NextRowSet();
    }
    if (!have && reader.Error() && reader.Error()->Statement < writes) {
      const TPlace place = places[reader.Error()->Statement];
      // The guard's own error says the UPDATE did not find its row once; any other error at
      // the guard or the release comes after the UPDATE has written the row.
      const bool guardRefused = place.Step == TStep::Guard && reader.Error()->Number == 50000;
      ADoing = Doing(place, rows);
      WritesDone(AConnection, place.Row,
                 place.Step == TStep::Drop || (place.Step == TStep::Guard && !guardRefused));
      answered = true;
      // Inside a parameterised request some drivers report no row counts.
      if (guardRefused)
        throw EDatabaseError(
            reader.LastRowCount() >= 0
                ? "Update failed. Found " + std::to_string(reader.LastRowCount()) + " records"
                : std::string("Update failed: the row was not found exactly once"));
      reader.RaiseError();
    }
    WritesDone(AConnection, FTaken.size() + FRelease.size(), false);

    bool consumed = false;  // the current row set has been read
    const auto next = [&] {
      if (consumed) have = reader.NextRowSet();
      consumed = true;
      return have;
    };
    const auto lockTaken = [&AConnection, &reader](TBatchRow& ARow) {
      ARow.FObjectId = reader.ReadInteger();
      ARow.Locked = true;
      AConnection.NoteLockTaken(ARow.FLockName, ARow.Table);
      if (ARow.FObjectId) AConnection.NoteLockObjectId(ARow.FLockName, *ARow.FObjectId);
    };
    for (std::size_t n = 0; n < rows.size() && stop == rows.size(); ++n) {
      TBatchRow& row = rows[n];
      try {
        if (!row.FLockName.empty()) {
          if (!next()) {
            stop = n;
            break;
          }
          lockTaken(row);
        }
        if (row.FReread) {
          if (!next()) {
            stop = n;
            break;
          }
          row.Values = row.Table->ReadRefreshedRow(reader.Statement(), row.RecNo);
        }
        if (!next()) {
          stop = n;
          break;
        }
        row.Count = static_cast<int>(reader.ReadInteger().value_or(0));
      } catch (const Exception&) {
        // The answer came but could not be taken (a row gone from under its re-read): the
        // server ran the rest of the request, so the locks after this row are ours too, and
        // are read to be let go.
        stop = n;
        result.Error = std::current_exception();
        result.Doing = Doing({false, n, TStep::Reread}, rows);
        for (std::size_t later = n + 1; later < rows.size(); ++later) {
          TBatchRow& after = rows[later];
          if (!after.FLockName.empty() && next()) lockTaken(after);
          if (after.FReread) next();
          next();
        }
      }
    }
    if (stop < rows.size() && !result.Error) {
      if (!reader.Error())
        throw EDatabaseError("The server's answer ended before " + rows[stop].Name + " was read");
      const TSqlBatchError& error = *reader.Error();
      if (error.Statement < writes || error.Statement >= places.size())
        throw EDatabaseError("The server reported an error at line " + std::to_string(error.Line) +
                             ", which the request does not hold: " + error.Message);
      const TPlace place = places[error.Statement];
      stop = place.Row;
      result.Doing = Doing(place, rows);
      answered = true;
      if (place.Step == TStep::Create && IsLockNameTaken(static_cast<long>(error.Number))) {
        refusedLock = rows[stop].FLockName;
      } else {
        try {
          reader.RaiseError();
        } catch (const Exception&) {
          result.Error = std::current_exception();
        }
        // A failure between the CREATE and the object id leaves a lock table of ours that
        // cannot be told from another's by its id: the session goes, and the table with it.
        if (place.Step == TStep::Insert || place.Step == TStep::ObjectId) {
          ADoing = result.Doing;
          LoseSession(AConnection);
          result.End = TTakeEnd::Failed;
          return result;
        }
      }
    }
  } catch (...) {
    if (answered) throw;
    // Not answered by the request's CATCH: a lost connection, a time-out, a batch the server
    // would not run. What it did is unknown, so nothing it may have locked is kept.
    for (TBatchRow& row : FTaken)
      if (row.Sent) row.Sent(row);
    if (lockWrites || lockTakes) LoseSession(AConnection);
    FTaken.clear();
    throw;
  }

  for (std::size_t n = stop; n < rows.size(); ++n)
    if (rows[n].Locked) FRelease.push_back(std::move(rows[n]));
  rows.resize(stop);
  FTaken = std::move(rows);
  result.Reached = FTaken.size();
  if (!refusedLock.empty()) {
    result.End = TTakeEnd::Refused;
    result.Error = std::make_exception_ptr(LockRefusal(AConnection, refusedLock));
  } else if (result.Error) {
    result.End = TTakeEnd::Failed;
  }
  return result;
}

void TVtRowBatch::Flush(TMSConnection& AConnection, std::string& ADoing) {
  if (FFailed) return;
  FNext.clear();
  const TTakeResult result = Take(AConnection, ADoing);
  (void)result;  // nothing was added: nothing can stop it but the writes, which raise
}

void TVtRowBatch::Abandon(TMSConnection& AConnection) noexcept {
  for (std::vector<TBatchRow>* rows : {&FTaken, &FRelease, &FNext})
    for (TBatchRow& row : *rows)
      if (row.Locked) DropTakenLockTable(AConnection, row.FLockName, row.Table);
  FTaken.clear();
  FRelease.clear();
  FNext.clear();
  FFailed = false;
}

}  // namespace bunkmere
