#include "db/VtRecordLock.h"

#include <memory>

#include "core/Encoding.h"
#include "core/SqlText.h"
#include "core/StrUtils.h"
#include "dataaccess/Fields.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSDataSet.h"
#include "dataaccess/ServerError.h"
#include "platform/Platform.h"

namespace bunkmere {

EVtDBLockError::EVtDBLockError(std::string AMessage, std::string ADatabaseName,
                               std::string ATableName, std::string AUniqueKey,
                               std::string AComputerName, std::string AUserName,
                               std::string AProgramName, TDateTime ATimeLocked)
    : EDatabaseError(std::move(AMessage)),
      FDatabaseName(std::move(ADatabaseName)),
      FTableName(std::move(ATableName)),
      FUniqueKey(std::move(AUniqueKey)),
      FComputerName(std::move(AComputerName)),
      FUserName(std::move(AUserName)),
      FProgramName(std::move(AProgramName)),
      FTimeLocked(ATimeLocked) {}

// ---- names, rows and statements ----

std::string RecordLockName(std::string_view ADatabaseName, std::string_view ATableName,
                           std::string_view AUniqueKey) {
  std::string inner;
  inner.reserve(ADatabaseName.size() + ATableName.size() + AUniqueKey.size() + 8);
  inner.append("##LOCK-").append(ADatabaseName).append(".").append(ATableName).append(".");
  inner.append(AUniqueKey);
  return "[tempdb].[dbo].[" + BracketEscape(inner) + "]";
}

TLockHolder MakeLockHolder(std::string_view ADatabaseName, std::string_view ATableName,
                           std::string_view AUniqueKey, std::string_view AComputerName,
                           std::string_view AUserName, std::string_view AProgramName,
                           TDateTime ATimeLocked) {
  // Widths count characters as the server's columns do, never splitting one.
  return TLockHolder{Utf8Left(ADatabaseName, kLockDatabaseNameWidth),
                     Utf8Left(ATableName, kLockTableNameWidth),
                     Utf8Left(AUniqueKey, kLockUniqueKeyWidth),
                     Utf8Left(AComputerName, kLockComputerNameWidth),
                     Utf8Left(AUserName, kLockUserNameWidth),
                     Utf8Left(AProgramName, kLockProgramNameWidth),
                     ATimeLocked};
}

std::string LockTableCreateStatement(std::string_view ALockName) {
  std::string sql = "CREATE TABLE ";
  sql.append(ALockName);
  sql += "(";
  sql += "  DatabaseName VARCHAR(" + std::to_string(kLockDatabaseNameWidth) + "),";
  sql += "  TableName    VARCHAR(" + std::to_string(kLockTableNameWidth) + "),";
  sql += "  UniqueKey    VARCHAR(" + std::to_string(kLockUniqueKeyWidth) + "),";
  sql += "  ComputerName VARCHAR(" + std::to_string(kLockComputerNameWidth) + "),";
  sql += "  UserName     VARCHAR(" + std::to_string(kLockUserNameWidth) + "),";
  sql += "  ProgramName  VARCHAR(" + std::to_string(kLockProgramNameWidth) + "),";
  sql += "  TimeLocked   DateTime";
  sql += ")";
  return sql;
}

std::string LockHolderInsertStatement(std::string_view ALockName, const TLockHolder& AHolder) {
  std::string sql = "INSERT INTO ";
  sql.append(ALockName);
  sql += "  (DatabaseName, TableName, UniqueKey, ComputerName, ";
  sql += "UserName, ProgramName, TimeLocked) ";
  sql += "VALUES ";
  sql += "  (" + QuotedStr(AHolder.DatabaseName) + ", " + QuotedStr(AHolder.TableName) + ", " +
         QuotedStr(AHolder.UniqueKey) + ", " + QuotedStr(AHolder.ComputerName) + ", " +
         QuotedStr(AHolder.UserName) + ", " + QuotedStr(AHolder.ProgramName) + ", " +
         QuotedStr(DateTimeToIsoText(AHolder.TimeLocked)) + ")";
  return sql;
}

std::string LockHolderSelectStatement(std::string_view ALockName) {
  return "SELECT * FROM " + std::string(ALockName);
}

std::string LockTableObjectIdStatement(std::string_view ALockName) {
  return "SELECT OBJECT_ID(N" + QuotedStr(ALockName) + ")";
}

std::string LockTableDropStatement(std::string_view ALockName,
                                   std::optional<std::int64_t> AObjectId) {
  std::string sql;
  if (AObjectId)
    sql = "IF OBJECT_ID(N" + QuotedStr(ALockName) + ") = " + std::to_string(*AObjectId) + " ";
  return sql + "DROP TABLE " + std::string(ALockName);
}

std::string LockRefusalMessage(const TLockHolder& AHolder, const TFormatSettings& AFormats) {
  std::string text = kLockRefusedText;
  text += "\r\n";
  text += "\r\n";
  text += "The record is already being edited.\r\n";
  text += "     User Name: " + AHolder.UserName + "\r\n";
  text += "     Computer Name: " + AHolder.ComputerName + "\r\n";
  text += "     Program Name: " + AHolder.ProgramName + "\r\n";
  text += "     Time Locked: " + DateTimeToStr(AHolder.TimeLocked, AFormats) + "\r\n";
  text += "     Table Name: " + AHolder.TableName;
  return text;
}

// ---- the routines ----

namespace {

// The server's answer to a CREATE of a table whose name is taken: the one failure of a lock
// table's CREATE that means another holder has the row.
constexpr long kObjectExistsError = 2714;

bool IsNameTaken(const std::exception& AError) {
  return IsLockNameTaken(ServerErrorNumber(AError));
}

// Fills ALock from the holder row of ALockName. The holder may have released the lock
// meanwhile, or not written its row yet: the refusal stands either way, and its message then
// says why the holder is not named rather than showing empty fields.
void ReadLockHolder(TMSConnection& AConnection, const std::string& ALockName,
                    EVtDBLockError& ALock) {
  std::string why;
  try {
    std::unique_ptr<TCustomMSDataSet> holder(AConnection.CreateDataSet(nullptr));
    holder->SQL().SetText(LockHolderSelectStatement(ALockName));
    holder->Open();
    if (holder->IsEmpty()) {
      why = "its holder has not written its name yet";
    } else {
      TLockHolder row;
      row.DatabaseName = holder->FieldByName("DatabaseName").AsString();
      row.TableName = holder->FieldByName("TableName").AsString();
      row.UniqueKey = holder->FieldByName("UniqueKey").AsString();
      row.ComputerName = holder->FieldByName("ComputerName").AsString();
      row.UserName = holder->FieldByName("UserName").AsString();
      row.ProgramName = holder->FieldByName("ProgramName").AsString();
      row.TimeLocked = holder->FieldByName("TimeLocked").AsDateTime();
      ALock.SetDatabaseName(row.DatabaseName);
      ALock.SetTableName(row.TableName);
      ALock.SetUniqueKey(row.UniqueKey);
      ALock.SetComputerName(row.ComputerName);
      ALock.SetUserName(row.UserName);
      ALock.SetProgramName(row.ProgramName);
      ALock.SetTimeLocked(row.TimeLocked);
      ALock.SetMessage(LockRefusalMessage(row, CurrentPlatform().FormatSettings()));
      return;
    }
  } catch (const std::exception& e) {
    why = "who holds it could not be read: " + OneLine(e.what());
  }
  if (!why.ends_with('.')) why += '.';
  ALock.SetMessage(std::string(kLockRefusedText) + "\r\n\r\nThe record is locked, but " + why);
}

}  // namespace

bool IsLockNameTaken(long AServerError) noexcept {
  return AServerError == kObjectExistsError;
}

TLockHolder OwnLockHolder(const TMSConnection& AConnection, std::string_view ATableName,
                          std::string_view AUniqueKey) {
  const TPlatform& platform = CurrentPlatform();
  return MakeLockHolder(AConnection.Database(), ATableName, AUniqueKey, platform.ComputerName(),
                        platform.UserName(), platform.ExecutableFileName(), platform.Now());
}

EVtDBLockError LockRefusal(TMSConnection& AConnection, const std::string& ALockName) {
  EVtDBLockError refusal(kLockRefusedText, "", "", "", "", "", "", 0);
  ReadLockHolder(AConnection, ALockName, refusal);
  return refusal;
}

namespace {

// Drops a lock table this session created. A server error on a session that is still alive (a
// lock time-out, a deadlock) would leave the table ours, and every other program kept out of
// the row until this one ends, so the DROP is tried once more; a lost session needs none (the
// server has dropped its tables). When the second try fails too, the session itself is ended:
// the server then drops the table, and the next use of the connection opens a new session.
// The DROP names the object id read at creation: should our table have been dropped by
// someone else and the name taken again, the new table is another holder's lock and stays.
void DropLockTable(TMSConnection& AConnection, const std::string& ALockName) noexcept {
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      if (!AConnection.Connected()) return;
      AConnection.ExecSQL(LockTableDropStatement(ALockName, AConnection.LockObjectId(ALockName)));
      return;
    } catch (const std::exception&) {
      // the table is gone already, or the server refused: see above
    }
  }
  if (AConnection.Connected()) AConnection.EndServerSession();
}

}  // namespace

void AcquireRecordLock(TCustomMSDataSet& ADataSet, std::string& ALockTableName,
                       bool ARecordLocksMake) {
  if (!ARecordLocksMake) return;
  TMSConnection* connection = ADataSet.Connection();
  TField* key = ADataSet.FindField("UniqueKey");
  std::string name;
  if (connection != nullptr && key != nullptr) {
    name = RecordLockName(connection->Database(), ADataSet.ReportedTableName(), key->AsString());
    // Asking again for the row this dataset already holds (a delete while it edits the row)
    // must not be refused by the dataset's own lock table; but a name kept from an earlier
    // server session (or from a release skipped with the switch off) guards nothing.
    if (name == ALockTableName && connection->HoldsLock(name, &ADataSet)) return;
  }
  if (!ALockTableName.empty()) ReleaseRecordLock(ADataSet, ALockTableName, ARecordLocksMake);
  if (name.empty()) {
    ALockTableName.clear();
    return;
  }

  ALockTableName.clear();
  TakeLockTable(*connection, name, ADataSet.ReportedTableName(), key->AsString(), &ADataSet);
  ALockTableName = name;
}

void TakeLockTable(TMSConnection& AConnection, const std::string& ALockName,
                   std::string_view ATableName, std::string_view AUniqueKey,
                   const TCustomMSDataSet* AHolder) {
  try {
    AConnection.ExecSQL(LockTableCreateStatement(ALockName));
  } catch (const std::exception& e) {
    // Only a name already taken is another holder's lock, and that table is left alone. Any
    // other failure (tempdb full, no permission, a lost session) is no hold: reported as one,
    // an unattended run would be retried for ever on a fault that never clears.
    if (!IsNameTaken(e)) throw;
    throw LockRefusal(AConnection, ALockName);
  }
  AConnection.NoteLockTaken(ALockName, AHolder);

  try {
    if (std::optional<std::int64_t> id =
            AConnection.SelectInteger(LockTableObjectIdStatement(ALockName)))
      AConnection.NoteLockObjectId(ALockName, *id);
    AConnection.ExecSQL(
        LockHolderInsertStatement(ALockName, OwnLockHolder(AConnection, ATableName, AUniqueKey)));
  } catch (...) {
    DropTakenLockTable(AConnection, ALockName, AHolder);
    throw;
  }
}

void DropTakenLockTable(TMSConnection& AConnection, const std::string& ALockName,
                        const TCustomMSDataSet* AHolder) noexcept {
  // Only the session that created the table drops it: after a reconnect the server has
  // dropped ours, and the name may meanwhile be another holder's.
  if (!AConnection.HoldsLock(ALockName, AHolder)) return;
  DropLockTable(AConnection, ALockName);
  AConnection.NoteLockDropped(ALockName);
}

void ReleaseRecordLock(TCustomMSDataSet& ADataSet, std::string& ALockTableName,
                       bool ARecordLocksMake) noexcept {
  if (!ARecordLocksMake) return;
  TMSConnection* connection = ADataSet.Connection();
  if (connection == nullptr) return;
  if (ALockTableName.empty()) return;
  DropTakenLockTable(*connection, ALockTableName, &ADataSet);
  ALockTableName.clear();
}

bool ProbeRecordLock(TCustomMSDataSet& ADataSet) {
  if (!ADataSet.Active() || ADataSet.IsEmpty()) return false;
  const TDataSetState state = ADataSet.State();
  if (state == TDataSetState::dsEdit || state == TDataSetState::dsInsert) return true;
  bool locked = false;
  try {
    ADataSet.Edit();
  } catch (const std::exception&) {
    locked = true;
  }
  if (ADataSet.State() == TDataSetState::dsEdit) ADataSet.Cancel();
  return locked;
}

}  // namespace bunkmere
