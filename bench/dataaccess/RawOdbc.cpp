#include "RawOdbc.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace bench {
namespace {

void Ok(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h, const char* what) {
  if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return;
  SQLCHAR state[6] = {}, text[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  SQLGetDiagRec(type, h, 1, state, &native, text, sizeof text, &len);
  throw std::runtime_error(std::string(what) + ": " + reinterpret_cast<char*>(text));
}

}  // namespace

RawOdbc::RawOdbc(const std::string& AConnectionString) {
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &FEnv);
  SQLSetEnvAttr(FEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, FEnv, &FDbc);
  std::string cs = AConnectionString;
  Ok(SQLDriverConnect(FDbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()),
                      static_cast<SQLSMALLINT>(cs.size()), nullptr, 0, nullptr,
                      SQL_DRIVER_NOPROMPT),
     SQL_HANDLE_DBC, FDbc, "connect");
  SQLAllocHandle(SQL_HANDLE_STMT, FDbc, &FStmt);
  SQLUINTEGER extensions = 0;
  if (SQL_SUCCEEDED(
          SQLGetInfo(FDbc, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr)))
    FGetDataAnyColumn = (extensions & SQL_GD_ANY_COLUMN) != 0;
}

RawOdbc::~RawOdbc() {
  SQLFreeHandle(SQL_HANDLE_STMT, FStmt);
  SQLDisconnect(FDbc);
  SQLFreeHandle(SQL_HANDLE_DBC, FDbc);
  SQLFreeHandle(SQL_HANDLE_ENV, FEnv);
}

FetchFigures RawOdbc::FetchAll(const std::string& ASql, std::size_t ABlockRows,
                               std::size_t ABlockBytes) {
  std::string sql = ASql;
  Ok(SQLExecDirect(FStmt, reinterpret_cast<SQLCHAR*>(sql.data()),
                   static_cast<SQLINTEGER>(sql.size())),
     SQL_HANDLE_STMT, FStmt, "exec");
  SQLSMALLINT cols = 0;
  SQLNumResultCols(FStmt, &cols);
  struct Column {
    SQLSMALLINT ctype = SQL_C_CHAR;
    std::size_t width = 0;
    bool lob = false;
    bool bound = false;
  };
  std::vector<Column> desc(static_cast<std::size_t>(cols));
  std::size_t firstLob = desc.size();
  FetchFigures figures;
  for (SQLSMALLINT c = 1; c <= cols; ++c) {
    SQLCHAR name[128];
    SQLSMALLINT nameLen, type, digits, nullable;
    SQLULEN size;
    SQLDescribeCol(FStmt, static_cast<SQLUSMALLINT>(c), name, sizeof name, &nameLen, &type, &size,
                   &digits, &nullable);
    Column& d = desc[static_cast<std::size_t>(c - 1)];
    switch (type) {
      case SQL_INTEGER:
      case SQL_SMALLINT:
      case SQL_TINYINT:
        d.ctype = SQL_C_SLONG;
        d.width = 4;
        break;
      case SQL_BIGINT:
        d.ctype = SQL_C_SBIGINT;
        d.width = 8;
        break;
      case SQL_BIT:
        d.ctype = SQL_C_BIT;
        d.width = 1;
        break;
      case SQL_FLOAT:
      case SQL_DOUBLE:
      case SQL_REAL:
        d.ctype = SQL_C_DOUBLE;
        d.width = 8;
        break;
      case SQL_TYPE_TIMESTAMP:
        d.ctype = SQL_C_TYPE_TIMESTAMP;
        d.width = sizeof(SQL_TIMESTAMP_STRUCT);
        break;
      case SQL_LONGVARCHAR:
      case SQL_WLONGVARCHAR:
        d.lob = true;
        break;
      default:
        if (size == 0 || size > 8000)
          d.lob = true;
        else
          d.width = size * 3 + 1;
        break;
    }
    if (d.lob && firstLob == desc.size()) firstLob = static_cast<std::size_t>(c - 1);
  }
  for (std::size_t c = 0; c < desc.size(); ++c) {
    // Columns after a large object can stay bound only where the driver reads unbound
    // columns in any order.
    desc[c].bound = !desc[c].lob && (c < firstLob || FGetDataAnyColumn);
    if (desc[c].bound) figures.rowBytes += desc[c].width + sizeof(SQLLEN);
  }
  std::size_t blockRows = ABlockRows;
  if (blockRows == 0) blockRows = std::max<std::size_t>(1, ABlockBytes / figures.rowBytes);
  if (firstLob < desc.size()) {
    blockRows = 1;
    figures.largeObjects = true;
    figures.boundAfterLargeObject = FGetDataAnyColumn && firstLob + 1 < desc.size();
  }
  figures.blockRows = blockRows;
  std::vector<std::vector<char>> data(desc.size());
  std::vector<std::vector<SQLLEN>> ind(desc.size());
  for (std::size_t c = 0; c < desc.size(); ++c) {
    if (!desc[c].bound) continue;
    data[c].resize(desc[c].width * blockRows);
    ind[c].resize(blockRows);
    SQLBindCol(FStmt, static_cast<SQLUSMALLINT>(c + 1), desc[c].ctype, data[c].data(),
               static_cast<SQLLEN>(desc[c].width), ind[c].data());
  }
  SQLULEN fetched = 0;
  SQLSetStmtAttr(FStmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN),
                 0);
  SQLSetStmtAttr(FStmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(blockRows), 0);
  SQLSetStmtAttr(FStmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  std::vector<char> piece(32768);
  for (;;) {
    SQLRETURN rc = SQLFetch(FStmt);
    if (rc == SQL_NO_DATA) break;
    Ok(rc, SQL_HANDLE_STMT, FStmt, "fetch");
    figures.rows += static_cast<std::int64_t>(fetched);
    for (std::size_t c = 0; c < desc.size(); ++c) {
      if (desc[c].bound) continue;
      const SQLSMALLINT ctype = desc[c].lob ? SQL_C_CHAR : desc[c].ctype;
      for (;;) {
        SQLLEN got = 0;
        rc = SQLGetData(FStmt, static_cast<SQLUSMALLINT>(c + 1), ctype, piece.data(),
                        static_cast<SQLLEN>(piece.size()), &got);
        if (rc == SQL_NO_DATA) break;
        Ok(rc, SQL_HANDLE_STMT, FStmt, "getdata");
        if (rc == SQL_SUCCESS || got == SQL_NULL_DATA) break;
      }
    }
  }
  while (SQLMoreResults(FStmt) != SQL_NO_DATA) {
  }
  SQLFreeStmt(FStmt, SQL_UNBIND);
  SQLSetStmtAttr(FStmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  SQLSetStmtAttr(FStmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  SQLFreeStmt(FStmt, SQL_CLOSE);
  return figures;
}

std::int64_t RawOdbc::ScalarInt(const std::string& ASql) {
  std::string sql = ASql;
  Ok(SQLExecDirect(FStmt, reinterpret_cast<SQLCHAR*>(sql.data()),
                   static_cast<SQLINTEGER>(sql.size())),
     SQL_HANDLE_STMT, FStmt, "exec");
  SQLINTEGER value = 0;
  SQLLEN ind = 0;
  Ok(SQLFetch(FStmt), SQL_HANDLE_STMT, FStmt, "fetch");
  SQLGetData(FStmt, 1, SQL_C_SLONG, &value, 0, &ind);
  while (SQLMoreResults(FStmt) != SQL_NO_DATA) {
  }
  SQLFreeStmt(FStmt, SQL_CLOSE);
  return value;
}

}  // namespace bench
