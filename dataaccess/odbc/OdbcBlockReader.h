#pragma once
// Reads a statement's current result in blocks of rows into buffers bound per column.

#include "dataaccess/odbc/OdbcApi.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dataaccess/odbc/DbValue.h"
#include "dataaccess/odbc/OdbcError.h"
#include "dataaccess/odbc/OdbcStatement.h"

namespace bunkmere::odbc {

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
// them, as the strictest drivers require) through SQLGetData. A value longer than its column
// declares fails the fetch with EDatabaseError naming the column, however the driver reported
// it. The driver holds pointers into the reader only while it lives, also when its
// constructor fails part way.
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
    std::size_t Width = 0;  // bytes per row in Data
    char* Data = nullptr;   // Width * rows
    SQLLEN* Ind = nullptr;  // one per row
    bool Bound = false;     // false: read with SQLGetData
    std::string Piecewise;  // a large object's value for the current row
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
  void Unbind() noexcept;
  std::size_t MaxBytes(std::size_t ACol) const;
  EOdbcError TooLong(std::size_t ACol) const;
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

}  // namespace bunkmere::odbc
