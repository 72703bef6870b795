#pragma once
// One ODBC statement handle (RAII) and what runs on it: statement text with positional "?"
// parameters sent as one batch (SQLExecDirect, never SQLPrepare: with FreeTDS a prepare costs
// extra round trips), result description, rows affected, draining every pending result, and
// the driver's primary-key catalog call. Rows are read through TOdbcBlockReader.

#include "dataaccess/odbc/OdbcApi.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dataaccess/odbc/DbValue.h"

namespace bunkmere::odbc {

class TOdbcStatement {
 public:
  explicit TOdbcStatement(SQLHDBC AConnection);
  ~TOdbcStatement();
  TOdbcStatement(const TOdbcStatement&) = delete;
  TOdbcStatement& operator=(const TOdbcStatement&) = delete;

  SQLHSTMT Handle() const noexcept { return FHandle; }
  // SQL_ATTR_QUERY_TIMEOUT in seconds; 0 waits for ever.
  void SetQueryTimeout(int ASeconds);

  // Sends AText with AParams bound to its "?" markers in order. Any result left by an earlier
  // use is drained first. The first result is left open for Describe and TOdbcBlockReader.
  void Execute(std::string_view AText, std::span<const TDbValue> AParams = {});

  // Columns of the current result; empty when it has none (a statement without rows).
  std::vector<TColumnDesc> Describe();
  // Rows affected by the current result, -1 when the driver does not know.
  std::int64_t RowsAffected();
  // Moves to the batch's next result (a row set or a row count): false when there is none, and
  // the statement is then free for the next Execute. A server error there raises, with the
  // results after it discarded.
  bool NextResult();
  // Reads and discards every pending row and result. A server error in a later result of the
  // batch raises. Returns the rows affected summed over the results that report a count.
  std::int64_t Drain();
  // The first column of the current result's first row as an integer, then drains like
  // Drain; nullopt when that value is NULL or the result has no row or no column.
  std::optional<std::int64_t> DrainFirstInteger();
  // The count of the last result of the last drain that reported one, -1 when none did: a
  // statement's own count, after those of any triggers it fired.
  std::int64_t LastRowsAffected() const noexcept { return FLastRowsAffected; }

  // Key columns of a table's primary key in key order; the name may be "schema.table" or
  // "catalog.schema.table" without quotes.
  std::vector<std::string> PrimaryKeys(std::string_view ATable);

 private:
  void DiscardResults() noexcept;
  struct TParamSlot {
    SQLLEN Indicator = 0;
    union {
      SQLINTEGER Int32;
      SQLBIGINT Int64;
      unsigned char Bit;
      double Float;
      SQL_TIMESTAMP_STRUCT Timestamp;
    } Fixed{};
  };
  void Bind(std::span<const TDbValue> AParams);

  SQLHSTMT FHandle = SQL_NULL_HSTMT;
  std::vector<TParamSlot> FParamSlots;  // alive until the next Execute: drivers read them late
  std::vector<std::string> FParamTexts;
  std::vector<std::u16string> FParamWide;  // text parameters as the wide path sends them
  bool FResultPending = false;
  bool FParamsBound = false;
  std::int64_t FLastRowsAffected = -1;
};

// Conversions between the platform's day count and ODBC's timestamp structure.
SQL_TIMESTAMP_STRUCT DateTimeToTimestamp(TDateTime AValue);
TDateTime TimestampToDateTime(const SQL_TIMESTAMP_STRUCT& AValue);

}  // namespace bunkmere::odbc
