#include "dataaccess/odbc/OdbcStatement.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "dataaccess/odbc/OdbcError.h"
#include "dataaccess/odbc/OdbcText.h"

namespace bunkmere::odbc {
namespace {

constexpr std::int64_t kDayOffset = 25569;  // days from 1899-12-30 to 1970-01-01
constexpr std::uint64_t kMaxBoundChars = 8000;
constexpr std::size_t kPieceSize = 32768;

// Howard Hinnant's civil calendar conversions (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// UTF-16 code units needed for a UTF-8 text: the column size a wide parameter declares.
SQLULEN Utf16Units(std::string_view s) {
  SQLULEN units = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) units += (c >= 0xF0) ? 2 : 1;
  }
  return units;
}

std::string ColAttrText(SQLHSTMT h, SQLUSMALLINT col, SQLUSMALLINT field) {
  SQLSMALLINT len = 0;
  if constexpr (kWideText) {
    SQLWCHAR buf[512] = {};
    if (!SQL_SUCCEEDED(
            SQLColAttributeW(h, col, field, buf, sizeof buf - sizeof buf[0], &len, nullptr)))
      return {};
    return FromDriverWide(
        buf, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(len, 0)) / 2,
                                   std::size(buf) - 1));
  }
  char buf[512] = {};
  if (!SQL_SUCCEEDED(SQLColAttribute(h, col, field, buf, sizeof buf - 1, &len, nullptr))) return {};
  return std::string(buf,
                     std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(len, 0)),
                                           sizeof buf - 1));
}

SQLLEN ColAttrNumber(SQLHSTMT h, SQLUSMALLINT col, SQLUSMALLINT field, SQLLEN fallback) {
  SQLLEN value = fallback;
  if (!SQL_SUCCEEDED(SQLColAttribute(h, col, field, nullptr, 0, nullptr, &value))) return fallback;
  return value;
}

void Classify(TColumnDesc& c) {
  switch (c.SqlType) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
      c.Kind = TColumnKind::Int32;
      break;
    case SQL_BIGINT:
      c.Kind = TColumnKind::Int64;
      break;
    case SQL_BIT:
      c.Kind = TColumnKind::Boolean;
      break;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      c.Kind = TColumnKind::Float;
      break;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_DATE:
      c.Kind = TColumnKind::DateTime;
      break;
    case SQL_CHAR:
    case SQL_WCHAR:
      c.Kind = TColumnKind::Text;
      c.FixedLength = true;
      break;
    case SQL_VARCHAR:
    case SQL_WVARCHAR:
      c.Kind = TColumnKind::Text;
      break;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      c.Kind = TColumnKind::Text;
      c.LargeObject = true;
      break;
    case SQL_BINARY:
      c.Kind = TColumnKind::Bytes;
      c.FixedLength = true;
      break;
    case SQL_VARBINARY:
      c.Kind = TColumnKind::Bytes;
      break;
    case SQL_LONGVARBINARY:
      c.Kind = TColumnKind::Bytes;
      c.LargeObject = true;
      break;
    default:
      // decimal, money, guid, time, xml, variants: carried as their text.
      c.Kind = TColumnKind::Text;
      break;
  }
  c.Unicode = c.SqlType == SQL_WCHAR || c.SqlType == SQL_WVARCHAR || c.SqlType == SQL_WLONGVARCHAR;
  if ((c.Kind == TColumnKind::Text || c.Kind == TColumnKind::Bytes) &&
      (c.Size == 0 || c.Size > kMaxBoundChars))
    c.LargeObject = true;
  if (c.LargeObject) c.FixedLength = false;
}

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

SQL_TIMESTAMP_STRUCT DateTimeToTimestamp(TDateTime AValue) {
  double whole = std::trunc(AValue);
  double frac = std::fabs(AValue - whole);
  auto ms = static_cast<std::int64_t>(std::llround(frac * 86400000.0));
  auto day = static_cast<std::int64_t>(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    day += 1;  // the time rounded up to the next calendar day
  }
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(day - kDayOffset, y, m, d);
  SQL_TIMESTAMP_STRUCT ts{};
  ts.year = static_cast<SQLSMALLINT>(y);
  ts.month = static_cast<SQLUSMALLINT>(m);
  ts.day = static_cast<SQLUSMALLINT>(d);
  ts.hour = static_cast<SQLUSMALLINT>(ms / 3600000);
  ts.minute = static_cast<SQLUSMALLINT>(ms / 60000 % 60);
  ts.second = static_cast<SQLUSMALLINT>(ms / 1000 % 60);
  ts.fraction = static_cast<SQLUINTEGER>(ms % 1000 * 1000000);
  return ts;
}

TDateTime TimestampToDateTime(const SQL_TIMESTAMP_STRUCT& AValue) {
  auto day = static_cast<double>(DaysFromCivil(AValue.year, AValue.month, AValue.day) + kDayOffset);
  double time =
      (AValue.hour * 3600.0 + AValue.minute * 60.0 + AValue.second + AValue.fraction / 1e9) /
      86400.0;
  // The platform keeps the time of day positive also before its epoch day.
  return day >= 0 ? day + time : day - time;
}

TOdbcStatement::TOdbcStatement(SQLHDBC AConnection) {
  Check(SQLAllocHandle(SQL_HANDLE_STMT, AConnection, &FHandle), SQL_HANDLE_DBC, AConnection,
        "SQLAllocHandle");
}

void TOdbcStatement::SetQueryTimeout(int ASeconds) {
  Check(SQLSetStmtAttr(FHandle, SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(ASeconds)), SQL_IS_UINTEGER),
        SQL_HANDLE_STMT, FHandle, "SQLSetStmtAttr");
}

TOdbcStatement::~TOdbcStatement() {
  SQLFreeHandle(SQL_HANDLE_STMT, FHandle);
}

void TOdbcStatement::Bind(std::span<const TDbValue> AParams) {
  FParamSlots.assign(AParams.size(), TParamSlot{});
  FParamTexts.assign(AParams.size(), std::string());
  FParamWide.assign(AParams.size(), std::u16string());
  for (std::size_t n = 0; n < AParams.size(); ++n) {
    const TDbValue& v = AParams[n];
    TParamSlot& slot = FParamSlots[n];
    SQLSMALLINT cType = SQL_C_CHAR, sqlType = SQL_VARCHAR, digits = 0;
    SQLULEN size = 1;
    SQLPOINTER data = nullptr;
    SQLLEN bufLen = 0;
    TDbValue::Kind kind = v.IsNull() ? v.nullAs : v.kind;
    switch (kind) {
      case TDbValue::Kind::Null:
      case TDbValue::Kind::Text:
        if (v.IsNull()) break;
        if constexpr (kWideText) {
          cType = SQL_C_WCHAR;
          FParamWide[n] = ToDriverWide(v.s);
          data = WidePointer(FParamWide[n]);
          bufLen = static_cast<SQLLEN>(FParamWide[n].size() * sizeof(SQLWCHAR));
        } else {
          FParamTexts[n] = v.s;
          data = FParamTexts[n].data();
          bufLen = static_cast<SQLLEN>(v.s.size());
        }
        slot.Indicator = bufLen;
        // The declared type is the same on both paths, so the server gets the same statement.
        // Plain ASCII goes as varchar so that the server can still use an index on a
        // varchar column; anything else as nvarchar, which every character survives.
        if (IsAscii(v.s)) {
          size = std::max<SQLULEN>(1, v.s.size());
          sqlType = size > 8000 ? SQL_LONGVARCHAR : SQL_VARCHAR;
        } else {
          size = std::max<SQLULEN>(1, Utf16Units(v.s));
          sqlType = size > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
        }
        break;
      case TDbValue::Kind::Integer:
        if (v.i >= INT32_MIN && v.i <= INT32_MAX) {
          cType = SQL_C_SLONG;
          sqlType = SQL_INTEGER;
          size = 10;
          slot.Fixed.Int32 = static_cast<SQLINTEGER>(v.i);
        } else {
          cType = SQL_C_SBIGINT;
          sqlType = SQL_BIGINT;
          size = 19;
          slot.Fixed.Int64 = v.i;
        }
        data = &slot.Fixed;
        break;
      case TDbValue::Kind::Boolean:
        cType = SQL_C_BIT;
        sqlType = SQL_BIT;
        slot.Fixed.Bit = v.i != 0 ? 1 : 0;
        data = &slot.Fixed;
        break;
      case TDbValue::Kind::Float:
        cType = SQL_C_DOUBLE;
        sqlType = SQL_DOUBLE;
        size = 15;
        slot.Fixed.Float = v.f;
        data = &slot.Fixed;
        break;
      case TDbValue::Kind::DateTime:
        cType = SQL_C_TYPE_TIMESTAMP;
        sqlType = SQL_TYPE_TIMESTAMP;
        size = 23;
        digits = 3;
        slot.Fixed.Timestamp = DateTimeToTimestamp(v.f);
        data = &slot.Fixed;
        break;
      case TDbValue::Kind::Bytes:
        cType = SQL_C_BINARY;
        if (v.IsNull()) {
          sqlType = SQL_VARBINARY;
          break;
        }
        FParamTexts[n] = v.s;
        data = FParamTexts[n].data();
        bufLen = static_cast<SQLLEN>(v.s.size());
        slot.Indicator = bufLen;
        size = std::max<SQLULEN>(1, v.s.size());
        sqlType = size > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
        break;
    }
    if (v.IsNull()) {
      slot.Indicator = SQL_NULL_DATA;
      data = nullptr;
      bufLen = 0;
    }
    Check(SQLBindParameter(FHandle, static_cast<SQLUSMALLINT>(n + 1), SQL_PARAM_INPUT, cType,
                           sqlType, size, digits, data, bufLen, &slot.Indicator),
          SQL_HANDLE_STMT, FHandle, "SQLBindParameter");
  }
  FParamsBound = !AParams.empty();
}

void TOdbcStatement::Execute(std::string_view AText, std::span<const TDbValue> AParams) {
  if (FResultPending) Drain();
  if (FParamsBound) {
    SQLFreeStmt(FHandle, SQL_RESET_PARAMS);
    FParamsBound = false;
  }
  Bind(AParams);
  SQLRETURN rc;
  if constexpr (kWideText) {
    std::u16string text = ToDriverWide(AText);
    rc = SQLExecDirectW(FHandle, WidePointer(text), static_cast<SQLINTEGER>(text.size()));
  } else {
    std::string text(AText);
    rc = SQLExecDirect(FHandle, reinterpret_cast<SQLCHAR*>(text.data()),
                       static_cast<SQLINTEGER>(text.size()));
  }
  if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE) {
    try {
      RaiseOdbcError(SQL_HANDLE_STMT, FHandle, "SQLExecDirect");
    } catch (...) {
      DiscardResults();
      throw;
    }
  }
  FResultPending = true;
}

std::vector<TColumnDesc> TOdbcStatement::Describe() {
  SQLSMALLINT count = 0;
  Check(SQLNumResultCols(FHandle, &count), SQL_HANDLE_STMT, FHandle, "SQLNumResultCols");
  std::vector<TColumnDesc> cols(static_cast<std::size_t>(count));
  for (SQLSMALLINT n = 1; n <= count; ++n) {
    TColumnDesc& c = cols[static_cast<std::size_t>(n - 1)];
    SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
    SQLULEN size = 0;
    if constexpr (kWideText) {
      SQLWCHAR name[256] = {};  // nameLen counts characters here
      Check(SQLDescribeColW(FHandle, static_cast<SQLUSMALLINT>(n), name,
                            static_cast<SQLSMALLINT>(std::size(name)), &nameLen, &type, &size,
                            &digits, &nullable),
            SQL_HANDLE_STMT, FHandle, "SQLDescribeCol");
      c.Name =
          nameLen < static_cast<SQLSMALLINT>(std::size(name))
              ? FromDriverWide(name, static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLen, 0)))
              : ColAttrText(FHandle, static_cast<SQLUSMALLINT>(n), SQL_DESC_NAME);
    } else {
      SQLCHAR name[256] = {};
      Check(SQLDescribeCol(FHandle, static_cast<SQLUSMALLINT>(n), name, sizeof name, &nameLen,
                           &type, &size, &digits, &nullable),
            SQL_HANDLE_STMT, FHandle, "SQLDescribeCol");
      c.Name = nameLen < static_cast<SQLSMALLINT>(sizeof name)
                   ? std::string(reinterpret_cast<char*>(name),
                                 static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLen, 0)))
                   : ColAttrText(FHandle, static_cast<SQLUSMALLINT>(n), SQL_DESC_NAME);
    }
    c.SqlType = type;
    c.Size = size;
    c.DecimalDigits = digits;
    c.Nullable = nullable != SQL_NO_NULLS;
    c.Identity = ColAttrNumber(FHandle, static_cast<SQLUSMALLINT>(n), SQL_DESC_AUTO_UNIQUE_VALUE,
                               SQL_FALSE) == SQL_TRUE;
    c.Updatable = ColAttrNumber(FHandle, static_cast<SQLUSMALLINT>(n), SQL_DESC_UPDATABLE,
                                SQL_ATTR_READWRITE_UNKNOWN) != SQL_ATTR_READONLY;
    c.BaseTableName = ColAttrText(FHandle, static_cast<SQLUSMALLINT>(n), SQL_DESC_BASE_TABLE_NAME);
    Classify(c);
  }
  return cols;
}

std::int64_t TOdbcStatement::RowsAffected() {
  SQLLEN n = -1;
  if (!SQL_SUCCEEDED(SQLRowCount(FHandle, &n))) return -1;
  return n;
}

std::int64_t TOdbcStatement::Drain() {
  std::int64_t total = 0;
  if (!FResultPending) return 0;
  FResultPending = false;
  FLastRowsAffected = -1;
  for (;;) {
    SQLSMALLINT cols = 0;
    if (SQL_SUCCEEDED(SQLNumResultCols(FHandle, &cols)) && cols == 0) {
      SQLLEN n = -1;
      if (SQL_SUCCEEDED(SQLRowCount(FHandle, &n)) && n >= 0) {
        total += n;
        FLastRowsAffected = n;
      }
    }
    SQLRETURN rc = SQLMoreResults(FHandle);
    if (rc == SQL_NO_DATA || rc == SQL_INVALID_HANDLE) break;
    if (rc == SQL_ERROR) {
      try {
        RaiseOdbcError(SQL_HANDLE_STMT, FHandle, "SQLMoreResults");
      } catch (...) {
        DiscardResults();
        throw;
      }
    }
  }
  SQLFreeStmt(FHandle, SQL_CLOSE);
  return total;
}

std::optional<std::int64_t> TOdbcStatement::DrainFirstInteger() {
  // A failure leaves nothing pending for the next statement.
  const auto raise = [this](const char* ACall) {
    try {
      RaiseOdbcError(SQL_HANDLE_STMT, FHandle, ACall);
    } catch (...) {
      DiscardResults();
      throw;
    }
  };
  std::optional<std::int64_t> value;
  SQLSMALLINT cols = 0;
  if (FResultPending && SQL_SUCCEEDED(SQLNumResultCols(FHandle, &cols)) && cols > 0) {
    SQLRETURN rc = SQLFetch(FHandle);
    if (rc == SQL_ERROR) raise("SQLFetch");
    if (SQL_SUCCEEDED(rc)) {
      SQLBIGINT n = 0;
      SQLLEN ind = 0;
      rc = SQLGetData(FHandle, 1, SQL_C_SBIGINT, &n, sizeof n, &ind);
      if (rc == SQL_ERROR) raise("SQLGetData");
      if (SQL_SUCCEEDED(rc) && ind != SQL_NULL_DATA) value = n;
    }
  }
  Drain();
  return value;
}

std::vector<std::string> TOdbcStatement::PrimaryKeys(std::string_view ATable) {
  Drain();
  if (FParamsBound) {
    SQLFreeStmt(FHandle, SQL_RESET_PARAMS);
    FParamsBound = false;
  }
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t dot = ATable.find('.', start);
    parts.emplace_back(ATable.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  std::string catalog, schema, table = parts.back();
  if (parts.size() >= 2) schema = parts[parts.size() - 2];
  if (parts.size() >= 3) catalog = parts[parts.size() - 3];
  auto len = [](const auto& s) {
    return s.empty() ? SQLSMALLINT{0} : static_cast<SQLSMALLINT>(s.size());
  };
  if constexpr (kWideText) {
    std::u16string wc = ToDriverWide(catalog), ws = ToDriverWide(schema), wt = ToDriverWide(table);
    auto arg = [](std::u16string& s) { return s.empty() ? nullptr : WidePointer(s); };
    Check(SQLPrimaryKeysW(FHandle, arg(wc), len(wc), arg(ws), len(ws), arg(wt), len(wt)),
          SQL_HANDLE_STMT, FHandle, "SQLPrimaryKeys");
  } else {
    auto arg = [](std::string& s) {
      return s.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(s.data());
    };
    Check(SQLPrimaryKeys(FHandle, arg(catalog), len(catalog), arg(schema), len(schema), arg(table),
                         len(table)),
          SQL_HANDLE_STMT, FHandle, "SQLPrimaryKeys");
  }
  FResultPending = true;
  std::vector<std::pair<long, std::string>> keys;
  for (;;) {
    SQLRETURN rc = SQLFetch(FHandle);
    if (rc == SQL_NO_DATA) break;
    Check(rc, SQL_HANDLE_STMT, FHandle, "SQLFetch");
    char name[512] = {};
    SQLLEN nameInd = 0, seqInd = 0;
    SQLINTEGER seq = 0;
    Check(SQLGetData(FHandle, 4, kWideText ? SQL_C_WCHAR : SQL_C_CHAR, name, sizeof name - 2,
                     &nameInd),
          SQL_HANDLE_STMT, FHandle, "SQLGetData");
    Check(SQLGetData(FHandle, 5, SQL_C_SLONG, &seq, 0, &seqInd), SQL_HANDLE_STMT, FHandle,
          "SQLGetData");
    if (nameInd == SQL_NULL_DATA) continue;
    std::string key;
    if constexpr (kWideText)
      key = FromDriverWide(
          name, std::char_traits<char16_t>::length(reinterpret_cast<const char16_t*>(name)));
    else
      key = name;
    keys.emplace_back(seqInd == SQL_NULL_DATA ? 0L : static_cast<long>(seq), std::move(key));
  }
  Drain();
  std::stable_sort(keys.begin(), keys.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> result;
  for (auto& k : keys) result.push_back(std::move(k.second));
  return result;
}

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
  FRows = firstLob < AColumns.size() ? 1 : std::max<std::size_t>(1, ARowsPerFetch);
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
  Check(SQLSetStmtAttr(h, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN),
                       0),
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
}

TOdbcBlockReader::~TOdbcBlockReader() {
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
  std::size_t rows = static_cast<std::size_t>(FFetched);
  if (rc == SQL_SUCCESS_WITH_INFO) {
    // Truncation or a row error is reported this way; never keep a cut value.
    for (std::size_t r = 0; r < rows; ++r) {
      if (FRowStatus[r] == SQL_ROW_ERROR) RaiseOdbcError(SQL_HANDLE_STMT, h, "SQLFetch");
      for (std::size_t c = 0; c < FBuffers.size(); ++c) {
        const TColumnBuffer& b = FBuffers[c];
        if (!b.Bound || (b.CType != SQL_C_CHAR && b.CType != SQL_C_BINARY)) continue;
        const bool wide = b.WideWidth != 0;
        SQLLEN ind = wide ? b.WideInd[r] : b.Ind[r];
        std::size_t room = wide                    ? b.WideWidth - sizeof(SQLWCHAR)
                           : b.CType == SQL_C_CHAR ? b.Width - 1
                                                   : b.Width;
        if (ind == SQL_NO_TOTAL || (ind >= 0 && static_cast<std::size_t>(ind) > room))
          throw EOdbcError(
              "Value of column " + FColumns[c].Name + " is longer than its declared size", "01004",
              0);
      }
    }
  }
  for (std::size_t c = 0; c < FBuffers.size(); ++c) {
    if (FBuffers[c].WideWidth != 0) ConvertWide(c, rows);
    if (!FBuffers[c].Bound) GetUnbound(c);
  }
  return rows;
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
      if (!more) break;
    }
    b.Piecewise = Utf16ToUtf8(wide);
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
    if (!more) break;
  }
  b.Ind[0] = static_cast<SQLLEN>(b.Piecewise.size());
}

TDateTime TOdbcBlockReader::DateTime(std::size_t ACol, std::size_t ARow) const {
  SQL_TIMESTAMP_STRUCT ts;
  std::memcpy(&ts, Cell(ACol, ARow), sizeof ts);
  return TimestampToDateTime(ts);
}

// Later statements of a failed batch may still have results; read them so that the
// connection is free for the next statement. Bounded so a misbehaving driver cannot spin.
void TOdbcStatement::DiscardResults() noexcept {
  for (int guard = 0; guard < 1000; ++guard) {
    const SQLRETURN more = SQLMoreResults(FHandle);
    if (more == SQL_NO_DATA || more == SQL_INVALID_HANDLE) break;
  }
  SQLFreeStmt(FHandle, SQL_CLOSE);
}

}  // namespace bunkmere::odbc
