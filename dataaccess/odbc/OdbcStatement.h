#pragma once
// One ODBC statement handle (RAII) and what runs on it: statement text with positional "?"
// parameters sent as one batch (SQLExecDirect, never SQLPrepare: with FreeTDS a prepare costs
// extra round trips), result description, rows affected, draining every pending result, and
// the driver's primary-key catalog call. Rows are read through TOdbcBlockReader.

#include "dataaccess/odbc/OdbcApi.h"

#include <cstdint>
#include <cstring>
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

// For buffers the driver fills: elements are left uninitialised. Zeroing a whole block for a
// statement that returns one row (a count, the re-read of a row) cost more than its fetch.
template <class T>
struct TUninitialisedAllocator : std::allocator<T> {
  using std::allocator<T>::allocator;
  template <class U>
  struct rebind {
    using other = TUninitialisedAllocator<U>;
  };
  template <class U>
  void construct(U* AAt) noexcept {
    ::new (static_cast<void*>(AAt)) U;
  }
  template <class U, class... A>
  void construct(U* AAt, A&&... AArgs) {
    ::new (static_cast<void*>(AAt)) U(std::forward<A>(AArgs)...);
  }
};
template <class T>
using TDriverBuffer = std::vector<T, TUninitialisedAllocator<T>>;

// Fetches the current result of a statement in blocks of ARowsPerFetch rows into buffers
// bound per column and sized to the column. Large-object columns cannot be bound; a result
// holding one is read a row at a time, the large objects (and the columns after the first of
// them, as the strictest drivers require) through SQLGetData.
class TOdbcBlockReader {
 public:
  TOdbcBlockReader(TOdbcStatement& AStatement, const std::vector<TColumnDesc>& AColumns,
                   std::size_t ARowsPerFetch);

  // Rows per fetch for reading a whole result of AColumns, never fewer than AAtLeast: as many
  // as fill a block of kBlockBytes of bound buffers. Measured against FreeTDS, fewer rows
  // per call pay the driver's per-call cost more often, and much larger blocks no longer stay
  // in the processor's cache between the driver writing them and the caller reading them.
  static constexpr std::size_t kBlockBytes = 256 * 1024;
  static constexpr std::size_t kMaxBlockRows = 4096;
  static std::size_t BlockRows(const std::vector<TColumnDesc>& AColumns, std::size_t AAtLeast);
  ~TOdbcBlockReader();
  TOdbcBlockReader(const TOdbcBlockReader&) = delete;
  TOdbcBlockReader& operator=(const TOdbcBlockReader&) = delete;

  // Fetches the next block; the number of rows in it, 0 at the end of the result.
  std::size_t Fetch();

  bool IsNull(std::size_t ACol, std::size_t ARow) const {
    return Indicator(ACol, ARow) == SQL_NULL_DATA;
  }
  std::int64_t Int(std::size_t ACol, std::size_t ARow) const {
    const char* p = Cell(ACol, ARow);
    if (FBuffers[ACol].CType == SQL_C_SLONG) {
      SQLINTEGER v;
      std::memcpy(&v, p, sizeof v);
      return v;
    }
    SQLBIGINT v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  bool Bool(std::size_t ACol, std::size_t ARow) const { return *Cell(ACol, ARow) != 0; }
  double Float(std::size_t ACol, std::size_t ARow) const {
    double v;
    std::memcpy(&v, Cell(ACol, ARow), sizeof v);
    return v;
  }
  TDateTime DateTime(std::size_t ACol, std::size_t ARow) const;
  // A bound column of the block as the driver wrote it, for copying a column at a time:
  // ColumnWidth bytes per row from ColumnData, one indicator per row.
  bool IsBound(std::size_t ACol) const { return FBuffers[ACol].Bound; }
  const char* ColumnData(std::size_t ACol) const { return FBuffers[ACol].Data; }
  const SQLLEN* ColumnIndicators(std::size_t ACol) const { return FBuffers[ACol].Ind; }
  std::size_t ColumnWidth(std::size_t ACol) const { return FBuffers[ACol].Width; }
  // Text (UTF-8) and binary values.
  std::string_view Bytes(std::size_t ACol, std::size_t ARow) const {
    const TColumnBuffer& b = FBuffers[ACol];
    if (!b.Bound) return b.Piecewise;
    SQLLEN ind = b.Ind[ARow];
    if (ind <= 0) return {};
    return {Cell(ACol, ARow), static_cast<std::size_t>(ind)};
  }

 private:
  // The buffers point into FArena.
  struct TColumnBuffer {
    SQLSMALLINT CType = SQL_C_CHAR;
    std::size_t Width = 0;     // bytes per row in Data
    char* Data = nullptr;      // Width * rows
    SQLLEN* Ind = nullptr;     // one per row
    bool Bound = false;        // false: read with SQLGetData
    std::string Piecewise;     // a large object's value for the current row
    // Wide text columns: the driver writes UTF-16 here (WideWidth bytes per row) and Fetch
    // puts the UTF-8 of each row in Data, so readers see the same text either way.
    char* Wide = nullptr;
    SQLLEN* WideInd = nullptr;
    std::size_t WideWidth = 0;
  };
  SQLLEN Indicator(std::size_t ACol, std::size_t ARow) const { return FBuffers[ACol].Ind[ARow]; }
  const char* Cell(std::size_t ACol, std::size_t ARow) const {
    return FBuffers[ACol].Data + ARow * FBuffers[ACol].Width;
  }
  void GetUnbound(std::size_t ACol);
  void ConvertWide(std::size_t ACol, std::size_t ARows);

  TOdbcStatement& FStatement;
  const std::vector<TColumnDesc>& FColumns;
  std::vector<TColumnBuffer> FBuffers;
  // Every column's buffers in one allocation instead of up to four per column: a row read one
  // at a time (a result with a large object) lies in a few neighbouring cache lines instead of
  // one or two per column.
  TDriverBuffer<char> FArena;
  std::vector<SQLUSMALLINT> FRowStatus;
  SQLULEN FFetched = 0;
  std::size_t FRows = 1;
  bool FDone = false;
};

// Conversions between the platform's day count and ODBC's timestamp structure.
SQL_TIMESTAMP_STRUCT DateTimeToTimestamp(TDateTime AValue);
TDateTime TimestampToDateTime(const SQL_TIMESTAMP_STRUCT& AValue);

}  // namespace bunkmere::odbc
