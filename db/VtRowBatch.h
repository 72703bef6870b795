#pragma once
// Rows of lockable tables worked in batches, for a pass whose time goes in round trips to a
// server a network away. The rows of one step (a cell and its beds) are locked, re-read and
// counted in one request; the caller decides each row from what came back; the rows are then
// written and their locks released at the start of the next request, ahead of the next step's
// rows, or alone when the work ends. A step costs one request instead of some seven statements
// a row.
//
// Every request runs as one TSqlBatch: the server stops at the first statement that fails and
// runs nothing after it, and its CATCH says which statement that was. So whatever stops a
// request, the rows before the statement that stopped it are written and released exactly as
// row-at-a-time work would have left them, and nothing at or after it is touched. Each lock
// is the family's record lock, statement for statement: CREATE of the lock table, its holder
// row written right after it, its object id read back for the guarded DROP.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dataaccess/MSDataSet.h"

namespace bunkmere {

class TMSConnection;
class TSqlBatch;
template <class TBase>
class TVtLockableDataSet;
class TVtMSTable;

// One row of a step (or, without a table, a count of its own).
struct TBatchRow {
  // ---- set when the row is added ----
  TVtMSTable* Table = nullptr;  // null for a count alone: no row, no lock
  std::size_t RecNo = 0;
  std::string Name;      // the row as messages name it
  std::string Counting;  // what its count does, as messages say it
  // ---- found by the request that takes it ----
  bool Locked = false;           // its record lock is held until it is written
  std::vector<TDbValue> Values;  // the row as re-read (under its lock)
  int Count = 0;
  // ---- decided by the caller before the next request ----
  std::optional<TCustomMSDataSet::TRowStatement> Update;
  // Queries whose rows' first column the log lists (a conflict's bookings): sent with the
  // row's write, ahead of it, and read into Listed, one list each.
  std::vector<std::string> Listings;
  std::vector<std::vector<std::string>> Listed;
  // Run, in row order, when the row's write has been sent (its log lines, with what its
  // listings found) and once it is written and released (its change record).
  std::function<void(const TBatchRow&)> Sent;
  std::function<void()> Written;

 private:
  friend class TVtRowBatch;
  std::string FCountSql;
  std::optional<TCustomMSDataSet::TRowStatement> FReread;
  std::string FLockName;
  std::string FLockTable, FLockKey;
  std::optional<std::int64_t> FObjectId;
  bool FStrict = true;
  bool FReleaseFailed = false;
};

enum class TTakeEnd {
  Complete,  // every row taken
  Refused,   // a row's lock is another holder's
  Failed     // the server failed a statement of a row, or its answer could not be read
};

struct TTakeResult {
  std::size_t Reached = 0;  // rows taken, from the first; the caller decides these
  TTakeEnd End = TTakeEnd::Complete;
  // Unless Complete: what stopped it, to be raised once the rows reached are written
  // (Flush), and what the row at which it stopped was being done for.
  std::exception_ptr Error;
  std::string Doing;
};

class TVtRowBatch {
 public:
  // Locks still held when the batch goes are the session's: the server drops them when the
  // connection ends, which for the window that owns the batch is at the same moment.
  TVtRowBatch() = default;
  TVtRowBatch(const TVtRowBatch&) = delete;
  TVtRowBatch& operator=(const TVtRowBatch&) = delete;

  // ---- the next step's rows, in pass order ----
  // A count sent ahead of the rows that follow it.
  void AddCount(std::string ACountSql, std::string ACounting);
  // ATable's current row: its lock (when the table makes locks), its re-read, then ACountSql.
  void AddRow(TVtMSTable& ATable, std::string ACountSql, std::string AName, std::string ACounting);

  // One request on AConnection: the writes and releases of the rows taken before, then the
  // rows added since. Returns how far the taking went; the rows reached are Taken() for the
  // caller to decide. A failure of the writes raises here (ADoing says which row's write),
  // after the rows before it are written; a failure the server could not catch raises too,
  // and then every lock of this session is let go (the session is ended) since what the
  // request did is unknown.
  TTakeResult Take(TMSConnection& AConnection, std::string& ADoing);
  // The rows taken by the last Take and not yet written, in order.
  std::vector<TBatchRow>& Taken() noexcept { return FTaken; }
  // Writes and releases the rows taken, alone in a request (nothing is sent when nothing is
  // to be sent); raises as Take does. After a request of this batch raised, nothing is sent
  // until Abandon: the write that failed is not tried again.
  void Flush(TMSConnection& AConnection, std::string& ADoing);
  // Lets every lock go without writing (a failed or stopped pass). Never raises.
  void Abandon(TMSConnection& AConnection) noexcept;

 private:
  enum class TStep : std::uint8_t {
    Listing,
    Update,
    Guard,
    Drop,
    Count,
    Create,
    Insert,
    ObjectId,
    Reread
  };
  struct TPlace {
    bool Writing = false;
    std::size_t Row = 0;
    TStep Step = TStep::Count;
  };
  TTakeResult Send(TMSConnection& AConnection, std::string& ADoing);
  // AListings: the row (among the taken, then the released) of each listing, in order.
  bool AddWrites(TSqlBatch& ABatch, std::vector<TPlace>& APlaces,
                 std::vector<std::size_t>& AListings) const;
  bool AddTakes(const TMSConnection& AConnection, std::vector<TBatchRow>& ARows, TSqlBatch& ABatch,
                std::vector<TPlace>& APlaces) const;
  // The writes ran up to row AStop of the taken rows followed by the rows to release (all of
  // them when AStop is past the end); AStopWritten when that row's UPDATE ran and only its
  // release failed. Runs the callbacks of the rows finished, notes their releases and keeps
  // the rest.
  void WritesDone(TMSConnection& AConnection, std::size_t AStop, bool AStopWritten);
  void LoseSession(TMSConnection& AConnection) noexcept;
  std::string Doing(const TPlace& APlace, const std::vector<TBatchRow>& ARows) const;

  std::vector<TBatchRow> FTaken;    // taken, not yet written
  std::vector<TBatchRow> FNext;     // added for the next Take
  std::vector<TBatchRow> FRelease;  // locked but not to be written: released with the writes
  bool FFailed = false;
  // Locks whose DROP failed in a request, tried again once the request is read: a release that
  // fails is not the pass's failure.
  std::vector<std::pair<std::string, const TVtMSTable*>>
      FRetry;  // a request raised: only Abandon goes on from here
};

}  // namespace bunkmere
