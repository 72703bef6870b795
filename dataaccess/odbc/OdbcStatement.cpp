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

bool TOdbcStatement::NextResult() {
  if (!FResultPending) return false;
  const SQLRETURN rc = SQLMoreResults(FHandle);
  if (rc == SQL_NO_DATA || rc == SQL_INVALID_HANDLE) {
    FResultPending = false;
    SQLFreeStmt(FHandle, SQL_CLOSE);
    return false;
  }
  if (rc == SQL_ERROR) {
    FResultPending = false;
    try {
      RaiseOdbcError(SQL_HANDLE_STMT, FHandle, "SQLMoreResults");
    } catch (...) {
      DiscardResults();
      throw;
    }
  }
  return true;
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
