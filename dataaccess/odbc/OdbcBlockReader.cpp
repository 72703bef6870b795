#include "dataaccess/odbc/OdbcBlockReader.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>

#include "dataaccess/odbc/OdbcError.h"
#include "dataaccess/odbc/OdbcText.h"

namespace bunkmere::odbc {
namespace {

constexpr std::size_t kPieceSize = 32768;
// A block's buffers never take more than this, whatever rows per fetch a caller asks for.
constexpr std::size_t kMaxArenaBytes = std::size_t{1} << 30;

struct TBinding {
  SQLSMALLINT CType = SQL_C_CHAR;
  std::size_t Width = 0;  // bytes per row; 0 for a large object, which is never bound
};

TBinding BindingFor(const TColumnDesc& d) {
  TBinding b;
  switch (d.Kind) {
    case TColumnKind::Int32:
      b.CType = SQL_C_SLONG;
      b.Width = sizeof(SQLINTEGER);
      break;
    case TColumnKind::Int64:
      b.CType = SQL_C_SBIGINT;
      b.Width = sizeof(SQLBIGINT);
      break;
    case TColumnKind::Boolean:
      b.CType = SQL_C_BIT;
      b.Width = 1;
      break;
    case TColumnKind::Float:
      b.CType = SQL_C_DOUBLE;
      b.Width = sizeof(double);
      break;
    case TColumnKind::DateTime:
      b.CType = SQL_C_TYPE_TIMESTAMP;
      b.Width = sizeof(SQL_TIMESTAMP_STRUCT);
      break;
    case TColumnKind::Text:
      b.CType = SQL_C_CHAR;
      if (d.SqlType == SQL_DECIMAL || d.SqlType == SQL_NUMERIC)
        b.Width = d.Size + 3;  // sign, point, terminator
      else if (d.Size == 0)
        b.Width = 256;
      else
        b.Width = d.Size * 3 + 1;  // a UTF-16 unit never takes more than 3 UTF-8 bytes
      break;
    case TColumnKind::Bytes:
      b.CType = SQL_C_BINARY;
      b.Width = std::max<std::size_t>(1, d.Size);
      break;
  }
  if (d.LargeObject) b.Width = 0;
  return b;
}

// Bytes per row of the UTF-16 buffer a text column is bound to on the wide path, 0 when it is
// bound as it is. A varchar(n) or nvarchar(n) value never needs more than n UTF-16 units (a
// character outside the BMP takes 4 bytes of a varchar or 2 units of an nvarchar), plus the
// terminator. Decimal text is plain ASCII and stays narrow.
std::size_t WideWidthFor(const TColumnDesc& d) {
  if (!kWideText || d.Kind != TColumnKind::Text || d.LargeObject) return 0;
  if (d.SqlType == SQL_DECIMAL || d.SqlType == SQL_NUMERIC) return 0;
  return ((d.Size == 0 ? 255 : d.Size) + 1) * sizeof(SQLWCHAR);
}

}  // namespace

std::size_t TOdbcBlockReader::BlockRows(const std::vector<TColumnDesc>& AColumns,
                                        std::size_t AAtLeast) {
  std::size_t rowBytes = 0;
  for (const TColumnDesc& d : AColumns)
    rowBytes += BindingFor(d).Width + WideWidthFor(d) + sizeof(SQLLEN);
  const std::size_t fit = kBlockBytes / std::max<std::size_t>(1, rowBytes);
  return std::max(AAtLeast, std::clamp<std::size_t>(fit, 1, kMaxBlockRows));
}

TOdbcBlockReader::TOdbcBlockReader(TOdbcStatement& AStatement,
                                   const std::vector<TColumnDesc>& AColumns,
                                   std::size_t ARowsPerFetch)
    : FStatement(AStatement), FColumns(AColumns), FBuffers(AColumns.size()) {
  std::size_t firstLob = AColumns.size();
  for (std::size_t c = 0; c < AColumns.size(); ++c)
    if (AColumns[c].LargeObject) {
      firstLob = c;
      break;
    }
  // Checked before the driver is told of any buffer.
  if (AColumns.size() > std::numeric_limits<SQLUSMALLINT>::max())
    throw EOdbcError("The result has more columns than can be read", "07009", 0);
  FRows = firstLob < AColumns.size() ? 1 : std::max<std::size_t>(1, ARowsPerFetch);
  std::size_t rowBytes = 0;
  for (const TColumnDesc& d : AColumns)
    rowBytes += BindingFor(d).Width + WideWidthFor(d) + 2 * sizeof(SQLLEN);
  if (FRows > kMaxArenaBytes / std::max<std::size_t>(1, rowBytes))
    throw EOdbcError("Too many rows asked for in one fetch", "HY024", 0);
  SQLHSTMT h = FStatement.Handle();
  for (std::size_t c = 0; c < AColumns.size(); ++c) {
    const TColumnDesc& d = AColumns[c];
    TColumnBuffer& b = FBuffers[c];
    const TBinding binding = BindingFor(d);
    b.CType = binding.CType;
    b.Width = binding.Width;
    b.Bound = c < firstLob;
    b.WideWidth = b.Bound ? WideWidthFor(d) : 0;
  }
  // Lays the buffers out one after another, each aligned for any value type: run once to
  // size the arena, then again to point into it.
  auto place = [this](char* AArena) {
    constexpr std::size_t kAlign = alignof(std::max_align_t);
    std::size_t at = 0;
    auto take = [&](std::size_t ABytes) {
      char* p = AArena != nullptr ? AArena + at : nullptr;
      at += (ABytes + kAlign - 1) / kAlign * kAlign;
      return p;
    };
    for (TColumnBuffer& b : FBuffers) {
      b.Data = take(b.Width * FRows);
      b.Ind = reinterpret_cast<SQLLEN*>(take(sizeof(SQLLEN) * FRows));
      if (b.WideWidth != 0) {
        b.Wide = take(b.WideWidth * FRows);
        b.WideInd = reinterpret_cast<SQLLEN*>(take(sizeof(SQLLEN) * FRows));
      }
    }
    return at;
  };
  FArena.resize(place(nullptr));
  place(FArena.data());
  FRowStatus.assign(FRows, SQL_ROW_SUCCESS);
  // From the first attribute set here the driver holds pointers into this object: a failure
  // part way must take every one of them back before the object's memory goes.
  try {
    Check(SQLSetStmtAttr(h, SQL_ATTR_ROW_BIND_TYPE,
                         reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0),
          SQL_HANDLE_STMT, h, "SQLSetStmtAttr");
    Check(SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(FRows), 0),
          SQL_HANDLE_STMT, h, "SQLSetStmtAttr");
    Check(SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, &FFetched, 0), SQL_HANDLE_STMT, h,
          "SQLSetStmtAttr");
    Check(SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, FRowStatus.data(), 0), SQL_HANDLE_STMT, h,
          "SQLSetStmtAttr");
    for (std::size_t c = 0; c < AColumns.size(); ++c) {
      TColumnBuffer& b = FBuffers[c];
      if (!b.Bound) continue;
      if (b.WideWidth != 0)
        Check(SQLBindCol(h, static_cast<SQLUSMALLINT>(c + 1), SQL_C_WCHAR, b.Wide,
                         static_cast<SQLLEN>(b.WideWidth), b.WideInd),
              SQL_HANDLE_STMT, h, "SQLBindCol");
      else
        Check(SQLBindCol(h, static_cast<SQLUSMALLINT>(c + 1), b.CType, b.Data,
                         static_cast<SQLLEN>(b.Width), b.Ind),
              SQL_HANDLE_STMT, h, "SQLBindCol");
    }
  } catch (...) {
    Unbind();
    throw;
  }
}

TOdbcBlockReader::~TOdbcBlockReader() {
  Unbind();
}

void TOdbcBlockReader::Unbind() noexcept {
  SQLHSTMT h = FStatement.Handle();
  SQLFreeStmt(h, SQL_UNBIND);
  SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
}

std::size_t TOdbcBlockReader::Fetch() {
  if (FDone) return 0;
  SQLHSTMT h = FStatement.Handle();
  FFetched = 0;
  SQLRETURN rc = SQLFetch(h);
  if (rc == SQL_NO_DATA) {
    FDone = true;
    return 0;
  }
  Check(rc, SQL_HANDLE_STMT, h, "SQLFetch");
  std::size_t rows = std::min(static_cast<std::size_t>(FFetched), FRows);
  if (rc == SQL_SUCCESS_WITH_INFO)
    for (std::size_t r = 0; r < rows; ++r)
      if (FRowStatus[r] == SQL_ROW_ERROR) RaiseOdbcError(SQL_HANDLE_STMT, h, "SQLFetch");
  {
    // Truncation is reported with SQL_SUCCESS_WITH_INFO, but a length past the buffer is
    // refused whatever the driver returned: it is read as the value's length later.
    for (std::size_t r = 0; r < rows; ++r) {
      for (std::size_t c = 0; c < FBuffers.size(); ++c) {
        const TColumnBuffer& b = FBuffers[c];
        if (!b.Bound || (b.CType != SQL_C_CHAR && b.CType != SQL_C_BINARY)) continue;
        const bool wide = b.WideWidth != 0;
        SQLLEN ind = wide ? b.WideInd[r] : b.Ind[r];
        std::size_t room = wide                    ? b.WideWidth - sizeof(SQLWCHAR)
                           : b.CType == SQL_C_CHAR ? b.Width - 1
                                                   : b.Width;
        if (ind == SQL_NO_TOTAL || (ind >= 0 && static_cast<std::size_t>(ind) > room))
          throw TooLong(c);
      }
    }
  }
  for (std::size_t c = 0; c < FBuffers.size(); ++c) {
    if (FBuffers[c].WideWidth != 0) ConvertWide(c, rows);
    if (!FBuffers[c].Bound) GetUnbound(c);
  }
  return rows;
}

EOdbcError TOdbcBlockReader::TooLong(std::size_t ACol) const {
  return EOdbcError("Value of column " + FColumns[ACol].Name + " is longer than its declared size",
                    "01004", 0);
}

// The most bytes a value of a column of declared size may take as read: a large object has no
// bound; text is UTF-8 here, up to 3 bytes for each character the column declares.
std::size_t TOdbcBlockReader::MaxBytes(std::size_t ACol) const {
  const TColumnDesc& d = FColumns[ACol];
  if (d.LargeObject || d.Size == 0) return std::numeric_limits<std::size_t>::max();
  if (d.Kind == TColumnKind::Bytes) return d.Size;
  return BindingFor(d).Width - 1;
}

void TOdbcBlockReader::ConvertWide(std::size_t ACol, std::size_t ARows) {
  TColumnBuffer& b = FBuffers[ACol];
  for (std::size_t r = 0; r < ARows; ++r) {
    const SQLLEN ind = b.WideInd[r];
    if (ind == SQL_NULL_DATA) {
      b.Ind[r] = SQL_NULL_DATA;
      continue;
    }
    const std::size_t units = std::min(static_cast<std::size_t>(std::max<SQLLEN>(ind, 0)),
                                       b.WideWidth - sizeof(SQLWCHAR)) /
                              sizeof(SQLWCHAR);
    const std::string text = FromDriverWide(b.Wide + r * b.WideWidth, units);
    // Width holds 3 bytes per unit, which every UTF-8 form of those units fits in.
    const std::size_t n = std::min(text.size(), b.Width - 1);
    std::memcpy(b.Data + r * b.Width, text.data(), n);
    b.Data[r * b.Width + n] = '\0';
    b.Ind[r] = static_cast<SQLLEN>(n);
  }
}

void TOdbcBlockReader::GetUnbound(std::size_t ACol) {
  SQLHSTMT h = FStatement.Handle();
  TColumnBuffer& b = FBuffers[ACol];
  auto col = static_cast<SQLUSMALLINT>(ACol + 1);
  if (b.Width != 0 && b.CType != SQL_C_CHAR && b.CType != SQL_C_BINARY) {
    Check(SQLGetData(h, col, b.CType, b.Data, static_cast<SQLLEN>(b.Width), &b.Ind[0]),
          SQL_HANDLE_STMT, h, "SQLGetData");
    return;
  }
  b.Piecewise.clear();
  // A column of declared size read in pieces (it follows a large object) is held to that size
  // as a bound one is: the reading stops as soon as a value passes it.
  const std::size_t most = MaxBytes(ACol);
  if (kWideText && b.CType == SQL_C_CHAR) {
    // Pieces are joined before converting: one may end inside a surrogate pair.
    std::u16string wide;
    char16_t piece[kPieceSize / 2];
    const std::size_t room = sizeof piece - sizeof piece[0];
    for (;;) {
      SQLLEN ind = 0;
      SQLRETURN rc = SQLGetData(h, col, SQL_C_WCHAR, piece, sizeof piece, &ind);
      if (rc == SQL_NO_DATA) break;
      Check(rc, SQL_HANDLE_STMT, h, "SQLGetData");
      if (ind == SQL_NULL_DATA) {
        b.Ind[0] = SQL_NULL_DATA;
        return;
      }
      bool more = rc == SQL_SUCCESS_WITH_INFO &&
                  (ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) > room);
      std::size_t got = more ? room : static_cast<std::size_t>(ind);
      wide.append(piece, std::min(got, room) / sizeof piece[0]);
      if (wide.size() > most) throw TooLong(ACol);
      if (!more) break;
    }
    b.Piecewise = Utf16ToUtf8(wide);
    if (b.Piecewise.size() > most) throw TooLong(ACol);
    b.Ind[0] = static_cast<SQLLEN>(b.Piecewise.size());
    return;
  }
  char piece[kPieceSize];
  const std::size_t room = b.CType == SQL_C_CHAR ? sizeof piece - 1 : sizeof piece;
  for (;;) {
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(h, col, b.CType, piece, sizeof piece, &ind);
    if (rc == SQL_NO_DATA) break;
    Check(rc, SQL_HANDLE_STMT, h, "SQLGetData");
    if (ind == SQL_NULL_DATA) {
      b.Ind[0] = SQL_NULL_DATA;
      return;
    }
    bool more = rc == SQL_SUCCESS_WITH_INFO &&
                (ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) > room);
    std::size_t got = more ? room : static_cast<std::size_t>(ind);
    b.Piecewise.append(piece, std::min(got, room));
    if (b.Piecewise.size() > most) throw TooLong(ACol);
    if (!more) break;
  }
  b.Ind[0] = static_cast<SQLLEN>(b.Piecewise.size());
}

TDateTime TOdbcBlockReader::DateTime(std::size_t ACol, std::size_t ARow) const {
  SQL_TIMESTAMP_STRUCT ts;
  std::memcpy(&ts, Cell(ACol, ARow), sizeof ts);
  return TimestampToDateTime(ts);
}

}  // namespace bunkmere::odbc
