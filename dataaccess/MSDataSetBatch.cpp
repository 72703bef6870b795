// Editing a row of a TCustomMSDataSet whose re-read and UPDATE a caller sends inside its own
// batch: the statements as Edit and Post build them, and the reading of the re-read's answer.

#include "core/StrUtils.h"
#include "dataaccess/GeneratedSql.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSDataSet.h"
#include "dataaccess/odbc/OdbcBlockReader.h"
#include "dataaccess/odbc/OdbcStatement.h"

namespace bunkmere {
namespace {

std::string NotWritableMessage(const TColumnDesc& AColumn, const std::string& ATable) {
  std::string why = AColumn.Identity ? "it is an identity column"
                    : !AColumn.Updatable
                        ? "the server reports it as not updatable"
                        : "it belongs to table " + AColumn.BaseTableName + ", not " + ATable;
  return "Field '" + AColumn.Name + "' cannot be modified: " + why;
}

}  // namespace

std::vector<TSelectColumn> TCustomMSDataSet::RefreshColumns() const {
  const std::string table = ReportedTableName();
  std::vector<TSelectColumn> cols;
  for (std::size_t c = 0; c < FColumns.size(); ++c)
    if (FColumns[c].Updatable && BelongsToTable(FColumns[c], table))
      cols.push_back({FColumns[c].Name, static_cast<int>(c)});
  return cols;
}

std::optional<TCustomMSDataSet::TRowStatement> TCustomMSDataSet::RefreshStatement(
    std::size_t ARecNo) {
  const std::string table = ReportedTableName();
  if (table.empty()) throw EDatabaseError("Table name is not defined");
  if (FConnection == nullptr) throw EDatabaseError("Connection is not defined");
  std::vector<int> keys = KeyColumns(true);
  const std::vector<TSelectColumn> cols = RefreshColumns();
  if (cols.empty()) return std::nullopt;
  TRowStatement s;
  const std::string cond = KeyConditionFor(keys, KeyValues(keys, ARecNo), s.Params);
  s.Sql = RefreshRecordStatement(table, cols, cond, FOptions->QuoteNames());
  return s;
}

std::vector<TDbValue> TCustomMSDataSet::ReadRefresh(odbc::TOdbcStatement& AStatement,
                                                    std::size_t ARecNo, std::size_t& AFound) {
  const std::vector<TSelectColumn> cols = RefreshColumns();
  std::vector<TDbValue> row = FRows.RowValues(ARecNo);
  AFound = 0;
  std::vector<TColumnDesc> got = AStatement.Describe();
  if (got.size() != cols.size()) throw EDatabaseError("Refresh failed: unexpected columns");
  // The re-read columns carry their dataset column's description, so values are read and
  // trimmed exactly as the open read them.
  std::vector<TColumnDesc> descs;
  for (std::size_t k = 0; k < cols.size(); ++k) {
    TColumnDesc d = FColumns[static_cast<std::size_t>(cols[k].Index)];
    d.SqlType = got[k].SqlType;
    d.Size = got[k].Size;
    d.LargeObject = got[k].LargeObject;
    descs.push_back(d);
  }
  odbc::TOdbcBlockReader reader(AStatement, descs, 1);
  TTrimRules trim{FOptions->TrimFixedChar(), FOptions->TrimVarChar()};
  while (reader.Fetch() > 0) {
    if (AFound++ == 0)
      for (std::size_t k = 0; k < cols.size(); ++k)
        row[static_cast<std::size_t>(cols[k].Index)] =
            TRowCache::ReadCell(reader, descs[k], k, 0, trim);
  }
  return row;
}

std::vector<TDbValue> TCustomMSDataSet::ReadRefreshedRow(odbc::TOdbcStatement& AStatement,
                                                         std::size_t ARecNo) {
  std::size_t found = 0;
  std::vector<TDbValue> row = ReadRefresh(AStatement, ARecNo, found);
  if (found != 1 && FOptions->StrictUpdate())
    throw EDatabaseError("Refresh failed. Found " + std::to_string(found) + " records");
  if (found == 0) return FRows.RowValues(ARecNo);
  return row;
}

void TCustomMSDataSet::EditAsRead(std::vector<TDbValue> AValues) {
  CheckActive();
  if (FState == TDataSetState::dsEdit || FState == TDataSetState::dsInsert)
    throw EDatabaseError("Dataset already in edit or insert mode");
  if (FRows.RowCount() == 0)
    throw EDatabaseError("Cannot perform this operation on an empty dataset");
  CheckCanModify();
  Fire(BeforeEdit);
  FRows.ReplaceRow(FRecNo, AValues);
  FBuffer = std::move(AValues);
  FWritten.assign(FBuffer.size(), false);
  FState = TDataSetState::dsEdit;
  Fire(AfterEdit);
}

std::optional<TCustomMSDataSet::TRowStatement> TCustomMSDataSet::PostStatement() {
  if (FConnection == nullptr) throw EDatabaseError("Connection is not defined");
  const std::string table = ReportedTableName();
  if (table.empty()) throw EDatabaseError("Table name is not defined");
  if (FState != TDataSetState::dsEdit) throw EDatabaseError("Dataset not in edit mode");
  std::vector<std::string> names;
  TRowStatement s;
  for (std::size_t c = 0; c < FColumns.size(); ++c) {
    const TColumnDesc& d = FColumns[c];
    const bool changed = d.LargeObject ? static_cast<bool>(FWritten[c])
                                       : !SameFieldValue(d, FBuffer[c], FRows.Value(FRecNo, c));
    if (!d.Updatable || d.Identity || !BelongsToTable(d, table)) {
      // Left out of the UPDATE, a value the caller set would be dropped while the post reports
      // success; the row stays in edit with the value instead.
      if (changed && FWritten[c]) throw EDatabaseError(NotWritableMessage(d, table));
      continue;
    }
    if (!changed && !FOptions->UpdateAllFields()) continue;
    names.push_back(d.Name);
    s.Params.push_back(FBuffer[c]);
  }
  if (names.empty()) return std::nullopt;
  std::vector<int> keys = KeyColumns(true);
  const std::string cond = KeyConditionFor(keys, KeyValues(keys, FRecNo), s.Params);
  s.Sql = UpdateStatement(table, names, cond, FOptions->QuoteNames());
  return s;
}

}  // namespace bunkmere
