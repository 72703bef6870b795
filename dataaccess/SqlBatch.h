#pragma once
// Several statements sent to the server as one request, for work whose cost is the round trip
// rather than the server's effort: the statements run one after another inside a TRY block,
// and the block's CATCH answers with the number, line and text of an error that stops them, so
// that the caller learns exactly which statement failed and that none after it ran. SQL Server
// passes every execution error above severity 10 that leaves the connection open to CATCH;
// what it cannot catch (a dropped connection, a cancelled request, a batch that does not
// compile) raises from the reader as a single statement's failure would.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/odbc/DbValue.h"

namespace bunkmere {

namespace odbc {
class TOdbcStatement;
}

class TSqlBatch {
 public:
  // Appends a statement, its parameters bound to its "?" markers; returns its index.
  std::size_t Add(std::string_view ASql, std::span<const TDbValue> AParams = {});
  std::size_t Size() const noexcept { return FFirstLines.size(); }
  bool Empty() const noexcept { return FFirstLines.empty(); }
  void Clear();

  // The request as sent: "BEGIN TRY", each statement from a line of its own, "END TRY", then
  // the CATCH block.
  std::string Text() const;
  const std::vector<TDbValue>& Params() const noexcept { return FParams; }
  // The index of the statement that holds line ALine of Text(); Size() when none does.
  std::size_t StatementAt(std::int64_t ALine) const noexcept;

 private:
  std::string FBody;
  std::vector<std::int64_t> FFirstLines;  // of each statement in Text(), from 1
  std::int64_t FNextLine = 2;             // line 1 is "BEGIN TRY"
  std::vector<TDbValue> FParams;
};

// The error that stopped a batch, as its CATCH reported it.
struct TSqlBatchError {
  std::int64_t Number = 0;
  std::int64_t Line = 0;
  std::string Message;
  std::size_t Statement = 0;  // index in the batch; the batch's size when the line is unknown
};

// Sends a batch and walks its results in order. Row counts are passed over (the last one is
// kept); row sets are left to the caller, one NextRowSet at a time.
class TSqlBatchReader {
 public:
  TSqlBatchReader(odbc::TOdbcStatement& AStatement, const TSqlBatch& ABatch);
  ~TSqlBatchReader();
  TSqlBatchReader(const TSqlBatchReader&) = delete;
  TSqlBatchReader& operator=(const TSqlBatchReader&) = delete;

  // Moves to the next row set: false when the batch has ended, or stopped at an error (then
  // Error() tells which). A failure the server could not catch raises.
  bool NextRowSet();
  // The current row set's first column in its first row, nullopt for NULL or no row; the rest
  // of the row set is passed over.
  std::optional<std::int64_t> ReadInteger();
  // The current row set's first column in every row, as text ("" for NULL).
  std::vector<std::string> ReadTexts();
  // The name of the current row set's first column.
  std::string RowSetName();
  // The statement positioned on the current row set, for a caller that reads it itself.
  odbc::TOdbcStatement& Statement() noexcept { return FStatement; }

  const std::optional<TSqlBatchError>& Error() const noexcept { return FError; }
  // Raises the reported error as the server's error of a single statement would be raised.
  [[noreturn]] void RaiseError() const;
  // The rows the last row count passed over reported; -1 before any.
  std::int64_t LastRowCount() const noexcept { return FLastRowCount; }

 private:
  bool IsErrorRowSet();
  void ReadError();

  odbc::TOdbcStatement& FStatement;
  const TSqlBatch& FBatch;
  bool FAtFirst = true;
  bool FDone = false;
  std::optional<TSqlBatchError> FError;
  std::int64_t FLastRowCount = -1;
};

}  // namespace bunkmere
