#include "dataaccess/SqlBatch.h"

#include <algorithm>
#include <charconv>

#include "core/Exceptions.h"

#include "dataaccess/RowCache.h"
#include "dataaccess/odbc/OdbcBlockReader.h"
#include "dataaccess/odbc/OdbcError.h"
#include "dataaccess/odbc/OdbcStatement.h"

namespace bunkmere {

namespace {

// The CATCH's answer. Its first column's name marks the row set as the error report: no row
// set a statement of a batch returns is named so.
constexpr std::string_view kErrorMark = "BunkmereBatchError";
constexpr std::string_view kCatch =
    "END TRY\nBEGIN CATCH\nSELECT 1 AS BunkmereBatchError, ERROR_NUMBER() AS ErrorNumber, "
    "ERROR_LINE() AS ErrorLine, ERROR_MESSAGE() AS ErrorMessage\nEND CATCH";

// The current row set's first row, every column as the cache would read it.
std::vector<TDbValue> FirstRow(odbc::TOdbcStatement& AStatement) {
  const std::vector<TColumnDesc> columns = AStatement.Describe();
  std::vector<TDbValue> row;
  odbc::TOdbcBlockReader reader(AStatement, columns, 1);
  if (reader.Fetch() > 0)
    for (std::size_t c = 0; c < columns.size(); ++c)
      row.push_back(TRowCache::ReadCell(reader, columns[c], c, 0, TTrimRules{true, true}));
  while (reader.Fetch() > 0) {
  }
  return row;
}

}  // namespace

// ---- the batch ----

std::size_t TSqlBatch::Add(std::string_view ASql, std::span<const TDbValue> AParams) {
  FFirstLines.push_back(FNextLine);
  FBody.append(ASql);
  FBody += '\n';
  FNextLine += 1 + std::count(ASql.begin(), ASql.end(), '\n');
  FParams.insert(FParams.end(), AParams.begin(), AParams.end());
  return FFirstLines.size() - 1;
}

void TSqlBatch::Clear() {
  FBody.clear();
  FFirstLines.clear();
  FNextLine = 2;
  FParams.clear();
}

std::string TSqlBatch::Text() const {
  std::string text = "BEGIN TRY\n";
  text.reserve(text.size() + FBody.size() + kCatch.size());
  text += FBody;
  text += kCatch;
  return text;
}

std::size_t TSqlBatch::StatementAt(std::int64_t ALine) const noexcept {
  if (FFirstLines.empty() || ALine < FFirstLines.front() || ALine >= FNextLine) return Size();
  const auto after = std::upper_bound(FFirstLines.begin(), FFirstLines.end(), ALine);
  return static_cast<std::size_t>(after - FFirstLines.begin()) - 1;
}

// ---- its results ----

TSqlBatchReader::TSqlBatchReader(odbc::TOdbcStatement& AStatement, const TSqlBatch& ABatch)
    : FStatement(AStatement), FBatch(ABatch) {
  FStatement.Execute(ABatch.Text(), ABatch.Params());
}

TSqlBatchReader::~TSqlBatchReader() {
  // What is left of the results is read, so that the connection is free for the next
  // statement; a failure there is the failure of a batch whose caller has already stopped.
  try {
    if (!FDone) FStatement.Drain();
  } catch (const std::exception&) {
  }
}

bool TSqlBatchReader::NextRowSet() {
  if (FDone) return false;
  for (;;) {
    if (FAtFirst) {
      FAtFirst = false;
    } else if (!FStatement.NextResult()) {
      FDone = true;
      return false;
    }
    if (FStatement.Describe().empty()) {
      const std::int64_t n = FStatement.RowsAffected();
      if (n >= 0) FLastRowCount = n;
      continue;
    }
    if (IsErrorRowSet()) {
      ReadError();
      FStatement.Drain();
      FDone = true;
      return false;
    }
    return true;
  }
}

std::vector<std::string> TSqlBatchReader::ReadTexts() {
  const std::vector<TColumnDesc> columns = FStatement.Describe();
  std::vector<std::string> texts;
  odbc::TOdbcBlockReader reader(FStatement, columns,
                                odbc::TOdbcBlockReader::BlockRows(columns, 16));
  for (std::size_t rows; (rows = reader.Fetch()) > 0;)
    for (std::size_t r = 0; r < rows; ++r) {
      const TDbValue value = TRowCache::ReadCell(reader, columns[0], 0, r, TTrimRules{true, true});
      switch (value.kind) {
        case TDbValue::Kind::Null:
          texts.emplace_back();
          break;
        case TDbValue::Kind::Integer:
          texts.push_back(std::to_string(value.i));
          break;
        case TDbValue::Kind::Boolean:
          texts.emplace_back(value.i != 0 ? "True" : "False");
          break;
        case TDbValue::Kind::Float:
        case TDbValue::Kind::DateTime:
          texts.push_back(std::to_string(value.f));
          break;
        case TDbValue::Kind::Text:
        case TDbValue::Kind::Bytes:
          texts.push_back(value.s);
          break;
      }
    }
  return texts;
}

std::string TSqlBatchReader::RowSetName() {
  const std::vector<TColumnDesc> columns = FStatement.Describe();
  return columns.empty() ? std::string() : columns[0].Name;
}

bool TSqlBatchReader::IsErrorRowSet() {
  const std::vector<TColumnDesc> columns = FStatement.Describe();
  return columns.size() == 4 && columns[0].Name == kErrorMark;
}

void TSqlBatchReader::ReadError() {
  const std::vector<TDbValue> row = FirstRow(FStatement);
  TSqlBatchError error;
  if (row.size() == 4) {
    error.Number = row[1].IsNull() ? 0 : row[1].i;
    error.Line = row[2].IsNull() ? 0 : row[2].i;
    error.Message = row[3].s;
  }
  error.Statement = FBatch.StatementAt(error.Line);
  FError = std::move(error);
}

std::optional<std::int64_t> TSqlBatchReader::ReadInteger() {
  const std::vector<TDbValue> row = FirstRow(FStatement);
  if (row.empty() || row[0].IsNull()) return std::nullopt;
  if (row[0].kind == TDbValue::Kind::Integer || row[0].kind == TDbValue::Kind::Boolean)
    return row[0].i;
  if (row[0].kind == TDbValue::Kind::Float || row[0].kind == TDbValue::Kind::DateTime)
    return static_cast<std::int64_t>(row[0].f);
  // A count or an object id read as text: anything but a number is no answer to either.
  std::int64_t value = 0;
  const char* end = row[0].s.data() + row[0].s.size();
  const auto [at, error] = std::from_chars(row[0].s.data(), end, value);
  if (error != std::errc() || at != end)
    throw EDatabaseError("The server answered '" + row[0].s + "' where a number was expected");
  return value;
}

void TSqlBatchReader::RaiseError() const {
  const TSqlBatchError error = FError.value_or(TSqlBatchError{});
  // The state of a server error the driver would have reported outside a TRY block.
  throw odbc::EOdbcError(error.Message, "42000", static_cast<long>(error.Number));
}

}  // namespace bunkmere
