// Editing a TCustomMSDataSet: the edit, post, cancel and delete operations with their events
// and steps, the row re-read before an edit, the key of a row, and the statements that write it.

#include <algorithm>

#include "core/StrUtils.h"
#include "dataaccess/GeneratedSql.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSDataSet.h"
#include "dataaccess/odbc/OdbcBlockReader.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "dataaccess/odbc/OdbcStatement.h"

namespace bunkmere {
namespace {

bool Editing(TDataSetState s) {
  return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert;
}

std::string LastPart(const std::string& AName) {
  std::size_t dot = AName.rfind('.');
  return dot == std::string::npos ? AName : AName.substr(dot + 1);
}

}  // namespace

void TCustomMSDataSet::Edit() {
  CheckActive();
  if (Editing(FState)) return;
  if (FRows.RowCount() == 0) {
    Insert();
    return;
  }
  CheckCanModify();
  Fire(BeforeEdit);
  CheckOperation([this] { InternalEdit(); }, OnEditError);
  FBuffer = FRows.RowValues(FRecNo);
  FWritten.assign(FBuffer.size(), false);
  FState = TDataSetState::dsEdit;
  Fire(AfterEdit);
}

void TCustomMSDataSet::InternalEdit() {
  if (FRefreshOptions.Contains(TRefreshOption::roBeforeEdit)) RefreshRecord();
}

void TCustomMSDataSet::Insert() {
  CheckActive();
  CheckCanModify();
  CheckBrowseMode();
  Fire(BeforeInsert);
  FBuffer.clear();
  for (const TColumnDesc& c : FColumns) {
    const TDbValue::Kind kind = ValueKindOf(c.Kind);
    FBuffer.push_back(TDbValue::Null(kind));
  }
  FWritten.assign(FBuffer.size(), false);
  FInsertAt = FRows.RowCount() == 0 ? 0 : FRecNo;
  FState = TDataSetState::dsInsert;
  Fire(AfterInsert);
}

void TCustomMSDataSet::Append() {
  Insert();
  FInsertAt = FRows.RowCount();
}

void TCustomMSDataSet::Post() {
  CheckActive();
  if (!Editing(FState)) throw EDatabaseError("Dataset not in edit or insert mode");
  CheckCanModify();
  Fire(BeforePost);
  CheckOperation([this] { InternalPost(); }, OnPostError);
  FState = TDataSetState::dsBrowse;
  FBuffer.clear();
  FWritten.clear();
  Fire(AfterPost);
}

void TCustomMSDataSet::Cancel() {
  if (!Editing(FState)) return;
  Fire(BeforeCancel);
  InternalCancel();
  bool wasEdit = FState == TDataSetState::dsEdit;
  FState = TDataSetState::dsBrowse;
  FBuffer.clear();
  FWritten.clear();
  Fire(AfterCancel);
  // The master's values are those of the cached row again.
  if (wasEdit) NotifyDetails();
}

void TCustomMSDataSet::InternalCancel() {}

void TCustomMSDataSet::Delete() {
  CheckActive();
  if (FState == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (FRows.RowCount() == 0)
    throw EDatabaseError("Cannot perform this operation on an empty dataset");
  CheckCanModify();
  CheckBrowseMode();
  Fire(BeforeDelete);
  CheckOperation([this] { InternalDelete(); }, OnDeleteError);
  FState = TDataSetState::dsBrowse;
  Fire(AfterDelete);
  NotifyDetails();
  Fire(AfterScroll);
}

void TCustomMSDataSet::CheckBrowseMode() {
  if (!Editing(FState)) return;
  if (Modified())
    Post();
  else
    Cancel();
}

bool TCustomMSDataSet::Modified() const {
  if (!Editing(FState)) return false;
  if (FState == TDataSetState::dsInsert)
    return std::find(FWritten.begin(), FWritten.end(), true) != FWritten.end();
  for (std::size_t c = 0; c < FBuffer.size(); ++c) {
    if (FColumns[c].LargeObject ? FWritten[c]
                                : !SameFieldValue(FColumns[c], FBuffer[c], FRows.Value(FRecNo, c)))
      return true;
  }
  return false;
}

// ---- keys ----

bool TCustomMSDataSet::BelongsToTable(const TColumnDesc& AColumn, const std::string& ATable) const {
  return AColumn.BaseTableName.empty() || SameText(AColumn.BaseTableName, LastPart(ATable));
}

std::vector<int> TCustomMSDataSet::KeyColumns(bool ARaise) {
  std::string table = ReportedTableName();
  if (FKeyCache && FKeyCacheTable == table) return *FKeyCache;
  std::vector<int> keys;
  if (!FKeyFields.empty()) {
    for (const std::string& name : SplitFieldList(FKeyFields)) {
      TField* f = FindField(name);
      if (f == nullptr) {
        if (!ARaise) return {};
        throw EDatabaseError("Field " + name + " not found");
      }
      keys.push_back(f->Index());
    }
  }
  if (keys.empty()) {
    for (std::size_t c = 0; c < FColumns.size(); ++c)
      if (FColumns[c].Identity && BelongsToTable(FColumns[c], table)) {
        keys.push_back(static_cast<int>(c));
        break;
      }
  }
  if (keys.empty() && FOptions->UniqueRecords() && !table.empty() && FConnection != nullptr) {
    // The driver names the table's primary key; it is asked once per table.
    std::vector<std::string> pk = FConnection->ServerConnection().Statement().PrimaryKeys(table);
    for (const std::string& name : pk) {
      TField* f = FindField(name);
      if (f == nullptr) {
        keys.clear();
        break;
      }
      keys.push_back(f->Index());
    }
  }
  if (keys.empty()) {
    for (std::size_t c = 0; c < FColumns.size(); ++c)
      if (FColumns[c].Updatable && !FColumns[c].LargeObject && BelongsToTable(FColumns[c], table))
        keys.push_back(static_cast<int>(c));
  }
  if (keys.empty()) {
    if (!ARaise) return {};
    throw EDatabaseError("Key fields not found");
  }
  FKeyCache = keys;
  FKeyCacheTable = table;
  return keys;
}

std::vector<TDbValue> TCustomMSDataSet::KeyValues(const std::vector<int>& AKeys,
                                                  std::size_t ARow) const {
  std::vector<TDbValue> out;
  for (int k : AKeys) out.push_back(FRows.Value(ARow, static_cast<std::size_t>(k)));
  return out;
}

std::string TCustomMSDataSet::KeyConditionFor(const std::vector<int>& AKeys,
                                              const std::vector<TDbValue>& AValues,
                                              std::vector<TDbValue>& AParams) const {
  std::vector<TKeyTerm> terms;
  for (std::size_t k = 0; k < AKeys.size(); ++k) {
    const TDbValue& v = AValues[k];
    terms.push_back({FColumns[static_cast<std::size_t>(AKeys[k])].Name, v.IsNull()});
    if (!v.IsNull()) AParams.push_back(v);
  }
  return KeyCondition(terms, FOptions->QuoteNames());
}

std::size_t TCustomMSDataSet::ExecuteDml(const std::string& ASql,
                                         const std::vector<TDbValue>& AParams) {
  odbc::TOdbcStatement& stmt = FConnection->ServerConnection().Statement();
  stmt.Execute(ASql, AParams);
  stmt.Drain();
  // The statement's own count comes last: the triggers it fires report theirs before it, and
  // a table's trigger must not turn a written row into a failure.
  return static_cast<std::size_t>(std::max<std::int64_t>(0, stmt.LastRowsAffected()));
}

// ---- re-read, update, insert, delete ----

void TCustomMSDataSet::CheckRowUnchangedOnServer() {
  if (FState != TDataSetState::dsEdit) return;
  const std::vector<TDbValue> started = FRows.RowValues(FRecNo);
  RefreshRecord();
  if (FRows.RowValues(FRecNo) != started)
    throw EDatabaseError("The record was changed by another user; edit it again");
}

void TCustomMSDataSet::RefreshRecord() {
  std::optional<TRowStatement> sql = RefreshStatement(FRecNo);
  if (!sql) return;
  odbc::TOdbcStatement& stmt = FConnection->ServerConnection().Statement();
  stmt.Execute(sql->Sql, sql->Params);
  std::size_t found = 0;
  std::vector<TDbValue> row;
  try {
    row = ReadRefresh(stmt, FRecNo, found);
  } catch (...) {
    try {
      stmt.Drain();
    } catch (const Exception&) {
    }
    throw;
  }
  stmt.Drain();
  if (found != 1 && FOptions->StrictUpdate()) {
    if (found == 0 && FOptions->RemoveOnRefresh()) {
      FRows.DeleteRow(FRecNo);
      if (FRecNo >= FRows.RowCount() && FRecNo > 0) --FRecNo;
      FEof = FRows.RowCount() == 0;
    }
    throw EDatabaseError("Refresh failed. Found " + std::to_string(found) + " records");
  }
  if (found > 0) FRows.ReplaceRow(FRecNo, row);
}

void TCustomMSDataSet::InternalPost() {
  if (FConnection == nullptr) throw EDatabaseError("Connection is not defined");
  std::string table = ReportedTableName();
  if (table.empty()) throw EDatabaseError("Table name is not defined");
  if (FState == TDataSetState::dsInsert) {
    std::vector<std::string> names;
    std::vector<TDbValue> values;
    for (std::size_t c = 0; c < FColumns.size(); ++c)
      if (FWritten[c]) {
        names.push_back(FColumns[c].Name);
        values.push_back(FBuffer[c]);
      }
    std::size_t n = ExecuteDml(InsertStatement(table, names, FOptions->QuoteNames()), values);
    if (FOptions->StrictUpdate() && n != 1)
      throw EDatabaseError("Update failed. Found " + std::to_string(n) + " records");
    FRows.InsertRow(FInsertAt, FBuffer);
    FRecNo = std::min(FInsertAt, FRows.RowCount() - 1);
    FEof = false;
    return;
  }
  std::optional<TRowStatement> update = PostStatement();
  if (!update) return;
  std::size_t n = ExecuteDml(update->Sql, update->Params);
  if (FOptions->StrictUpdate() && n != 1)
    throw EDatabaseError("Update failed. Found " + std::to_string(n) + " records");
  FRows.ReplaceRow(FRecNo, FBuffer);
}

void TCustomMSDataSet::InternalDelete() {
  if (FConnection == nullptr) throw EDatabaseError("Connection is not defined");
  std::string table = ReportedTableName();
  if (table.empty()) throw EDatabaseError("Table name is not defined");
  std::vector<int> keys = KeyColumns(true);
  std::vector<TDbValue> params;
  std::string cond = KeyConditionFor(keys, KeyValues(keys, FRecNo), params);
  std::size_t n = ExecuteDml(DeleteStatement(table, cond, FOptions->QuoteNames()), params);
  if (FOptions->StrictUpdate() && n != 1)
    throw EDatabaseError("Delete failed. Found " + std::to_string(n) + " records");
  FRows.DeleteRow(FRecNo);
  if (FRecNo >= FRows.RowCount() && FRecNo > 0) --FRecNo;
  FEof = FRows.RowCount() == 0;
}

}  // namespace bunkmere
