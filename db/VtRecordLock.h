#pragma once
// The family's pessimistic record lock, shared by every program of the family that works on
// the same SQL Server.
//
// A lock on one row is a global temporary table in tempdb named after the database, the table
// and the row's "UniqueKey" value: creating it claims the lock (a second CREATE of the name
// fails on every connection, the holder's own included), dropping it releases the lock, and
// the server drops it by itself when the holder's connection ends. The one row inside tells
// a refused program who holds the lock.
//
// The lock name, the statements and the refusal message are fixed: other programs of the
// family meet the same tables and read the same holder rows.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/DateTime.h"
#include "core/Exceptions.h"

namespace bunkmere {

class TCustomMSDataSet;
class TMSConnection;

// A refused record lock. The holder's values are those read from its lock table, so they
// carry the column widths' truncation; all empty (and TimeLocked zero) when no holder row
// could be read.
class EVtDBLockError : public EDatabaseError {
 public:
  EVtDBLockError(std::string AMessage, std::string ADatabaseName, std::string ATableName,
                 std::string AUniqueKey, std::string AComputerName, std::string AUserName,
                 std::string AProgramName, TDateTime ATimeLocked);
  const char* ClassName() const noexcept override { return "EVtDBLockError"; }

  const std::string& DatabaseName() const noexcept { return FDatabaseName; }
  void SetDatabaseName(std::string AValue) { FDatabaseName = std::move(AValue); }
  const std::string& TableName() const noexcept { return FTableName; }
  void SetTableName(std::string AValue) { FTableName = std::move(AValue); }
  const std::string& UniqueKey() const noexcept { return FUniqueKey; }
  void SetUniqueKey(std::string AValue) { FUniqueKey = std::move(AValue); }
  const std::string& ComputerName() const noexcept { return FComputerName; }
  void SetComputerName(std::string AValue) { FComputerName = std::move(AValue); }
  const std::string& UserName() const noexcept { return FUserName; }
  void SetUserName(std::string AValue) { FUserName = std::move(AValue); }
  const std::string& ProgramName() const noexcept { return FProgramName; }
  void SetProgramName(std::string AValue) { FProgramName = std::move(AValue); }
  TDateTime TimeLocked() const noexcept { return FTimeLocked; }
  void SetTimeLocked(TDateTime AValue) noexcept { FTimeLocked = AValue; }

 private:
  std::string FDatabaseName;
  std::string FTableName;
  std::string FUniqueKey;
  std::string FComputerName;
  std::string FUserName;
  std::string FProgramName;
  TDateTime FTimeLocked = 0;
};

// Column widths of the lock table.
inline constexpr std::size_t kLockDatabaseNameWidth = 30;
inline constexpr std::size_t kLockTableNameWidth = 100;
inline constexpr std::size_t kLockUniqueKeyWidth = 22;
inline constexpr std::size_t kLockComputerNameWidth = 30;
inline constexpr std::size_t kLockUserNameWidth = 30;
inline constexpr std::size_t kLockProgramNameWidth = 30;

inline constexpr const char* kLockRefusedText = "The requested lock could not be granted.";

// "[tempdb].[dbo].[##LOCK-<database>.<table>.<key>]", the pieces uncut. A "]" inside the
// pieces is doubled so that no key or name can end the bracketed identifier early; names
// without one are exactly the family's.
std::string RecordLockName(std::string_view ADatabaseName, std::string_view ATableName,
                           std::string_view AUniqueKey);

// The holder row as it is written: every text cut to its column's width.
struct TLockHolder {
  std::string DatabaseName, TableName, UniqueKey, ComputerName, UserName, ProgramName;
  TDateTime TimeLocked = 0;
};
TLockHolder MakeLockHolder(std::string_view ADatabaseName, std::string_view ATableName,
                           std::string_view AUniqueKey, std::string_view AComputerName,
                           std::string_view AUserName, std::string_view AProgramName,
                           TDateTime ATimeLocked);

std::string LockTableCreateStatement(std::string_view ALockName);
// TimeLocked goes as 'yyyy-mm-ddThh:nn:ss', which the server reads alike under every language
// and date format; regional text would fail to convert on some workstations.
std::string LockHolderInsertStatement(std::string_view ALockName, const TLockHolder& AHolder);
std::string LockHolderSelectStatement(std::string_view ALockName);
// "SELECT OBJECT_ID(N'<lock name>')": read right after the CREATE, the id tells this session's
// table from one another program creates under the same name after ours was dropped.
std::string LockTableObjectIdStatement(std::string_view ALockName);
// "DROP TABLE <lock name>"; with the object id noted at creation, prefixed by
// "IF OBJECT_ID(N'<lock name>') = <id> " so that only that very table is dropped.
std::string LockTableDropStatement(std::string_view ALockName,
                                   std::optional<std::int64_t> AObjectId = std::nullopt);

// The refusal text naming the holder, lines joined by CR LF; TimeLocked in the regional
// short date and long time.
std::string LockRefusalMessage(const TLockHolder& AHolder, const TFormatSettings& AFormats);

// Takes the lock of ADataSet's current row into ALockTableName (the dataset's own record of
// the lock it holds). Nothing happens with ARecordLocksMake off. A dataset without a
// connection or without a "UniqueKey" field is not locked: ALockTableName becomes empty and
// the caller goes on unguarded. A dataset whose connection's current session holds this row's
// lock for it keeps it and nothing is sent; one holding another row's lock, or a name from an
// earlier session, lets go of that first, so it never holds two.
// Raises EVtDBLockError when another holder has the lock (ALockTableName empty), or the
// server's error when the holder row cannot be written (the new table is dropped again).
void AcquireRecordLock(TCustomMSDataSet& ADataSet, std::string& ALockTableName,
                       bool ARecordLocksMake);

// The steps of a lock of any name, for locks that guard more than a dataset's row: creates
// ALockName on AConnection's session, reads back its object id and writes the holder row
// (ATableName and AUniqueKey as the row's columns say them), noting the lock for AHolder.
// Raises EVtDBLockError when the name is already taken (error 2714: another holder), naming
// that holder or saying why it cannot be named; any other failure of the CREATE is raised as
// the server gave it. A failure after the CREATE drops the new table again.
void TakeLockTable(TMSConnection& AConnection, const std::string& ALockName,
                   std::string_view ATableName, std::string_view AUniqueKey,
                   const TCustomMSDataSet* AHolder);
// The holder row this workstation writes for a lock on AConnection's database.
TLockHolder OwnLockHolder(const TMSConnection& AConnection, std::string_view ATableName,
                          std::string_view AUniqueKey);
// The refusal of ALockName, found taken: its holder read from the lock table (one statement),
// or the message saying why the holder cannot be named.
EVtDBLockError LockRefusal(TMSConnection& AConnection, const std::string& ALockName);
// Error 2714, "There is already an object named …": the answer to a CREATE of a lock table
// whose name another holder has.
bool IsLockNameTaken(long AServerError) noexcept;

// Drops ALockName when AConnection's current session took it for AHolder; otherwise only
// forgets it. Never raises.
void DropTakenLockTable(TMSConnection& AConnection, const std::string& ALockName,
                        const TCustomMSDataSet* AHolder) noexcept;

// Drops the lock named by ALockTableName and empties it. Nothing happens with the switch off
// or without a connection. Never raises. A lock that the connection's current session did not
// take for this dataset is only forgotten: the server dropped it with its session, and a DROP
// on a new session could remove another holder's lock of the same name.
void ReleaseRecordLock(TCustomMSDataSet& ADataSet, std::string& ALockTableName,
                       bool ARecordLocksMake) noexcept;

// Whether the current row is locked: true while the dataset edits or inserts; otherwise it
// tries Edit (with all its events and lock step) and Cancel, and answers whether Edit failed.
bool ProbeRecordLock(TCustomMSDataSet& ADataSet);

}  // namespace bunkmere
