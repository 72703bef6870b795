#include "RawOdbc.h"

#include <sql.h>
#include <sqlext.h>

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
}

RawOdbc::~RawOdbc() {
  SQLFreeHandle(SQL_HANDLE_STMT, FStmt);
  SQLDisconnect(FDbc);
  SQLFreeHandle(SQL_HANDLE_DBC, FDbc);
  SQLFreeHandle(SQL_HANDLE_ENV, FEnv);
}

std::int64_t RawOdbc::FetchAll(const std::string& ASql, int ARows) {
  std::string sql = ASql;
  Ok(SQLExecDirect(FStmt, reinterpret_cast<SQLCHAR*>(sql.data()),
                   static_cast<SQLINTEGER>(sql.size())),
     SQL_HANDLE_STMT, FStmt, "exec");
  SQLSMALLINT cols = 0;
  SQLNumResultCols(FStmt, &cols);
  std::vector<std::vector<char>> data(static_cast<std::size_t>(cols));
  std::vector<std::vector<SQLLEN>> ind(static_cast<std::size_t>(cols));
  for (SQLSMALLINT c = 1; c <= cols; ++c) {
    SQLCHAR name[128];
    SQLSMALLINT nameLen, type, digits, nullable;
    SQLULEN size;
    SQLDescribeCol(FStmt, static_cast<SQLUSMALLINT>(c), name, sizeof name, &nameLen, &type, &size,
                   &digits, &nullable);
    SQLSMALLINT ctype = SQL_C_CHAR;
    std::size_t width;
    switch (type) {
      case SQL_INTEGER:
      case SQL_SMALLINT:
      case SQL_TINYINT:
        ctype = SQL_C_SLONG;
        width = 4;
        break;
      case SQL_BIGINT:
        ctype = SQL_C_SBIGINT;
        width = 8;
        break;
      case SQL_BIT:
        ctype = SQL_C_BIT;
        width = 1;
        break;
      case SQL_FLOAT:
      case SQL_DOUBLE:
      case SQL_REAL:
        ctype = SQL_C_DOUBLE;
        width = 8;
        break;
      case SQL_TYPE_TIMESTAMP:
        ctype = SQL_C_TYPE_TIMESTAMP;
        width = sizeof(SQL_TIMESTAMP_STRUCT);
        break;
      default:
        width = size * 3 + 1;
        break;
    }
    auto& d = data[static_cast<std::size_t>(c - 1)];
    auto& i = ind[static_cast<std::size_t>(c - 1)];
    d.resize(width * static_cast<std::size_t>(ARows));
    i.resize(static_cast<std::size_t>(ARows));
    SQLBindCol(FStmt, static_cast<SQLUSMALLINT>(c), ctype, d.data(), static_cast<SQLLEN>(width),
               i.data());
  }
  SQLULEN fetched = 0;
  SQLSetStmtAttr(FStmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN),
                 0);
  SQLSetStmtAttr(FStmt, SQL_ATTR_ROW_ARRAY_SIZE,
                 reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(ARows)), 0);
  SQLSetStmtAttr(FStmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  std::int64_t rows = 0;
  for (;;) {
    SQLRETURN rc = SQLFetch(FStmt);
    if (rc == SQL_NO_DATA) break;
    Ok(rc, SQL_HANDLE_STMT, FStmt, "fetch");
    rows += static_cast<std::int64_t>(fetched);
  }
  while (SQLMoreResults(FStmt) != SQL_NO_DATA) {
  }
  SQLFreeStmt(FStmt, SQL_UNBIND);
  SQLSetStmtAttr(FStmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  SQLSetStmtAttr(FStmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  SQLFreeStmt(FStmt, SQL_CLOSE);
  return rows;
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
