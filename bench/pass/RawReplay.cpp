#include "bench/pass/RawReplay.h"

#include <sql.h>
#include <sqlext.h>

#include <time.h>

#include <chrono>
#include <optional>
#include <regex>
#include <stdexcept>

namespace bunkmere::bench {
namespace {

void Check(SQLRETURN ARc, SQLSMALLINT AType, SQLHANDLE AHandle, const char* AWhat) {
  if (SQL_SUCCEEDED(ARc) || ARc == SQL_NO_DATA) return;
  SQLCHAR state[6] = {}, text[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  SQLGetDiagRec(AType, AHandle, 1, state, &native, text, sizeof text, &len);
  throw std::runtime_error(std::string(AWhat) + ": " + reinterpret_cast<char*>(text));
}

struct Bound {
  SQLSMALLINT SqlType = SQL_VARCHAR;
  SQLULEN Size = 0;
};

// The ODBC type for a logged parameter type such as "int", "varchar(30)", "bit".
Bound TypeOf(const std::string& AType) {
  static const std::regex sized(R"((\w+)\((\d+|max)\))", std::regex::icase);
  std::smatch m;
  std::string base = AType;
  SQLULEN size = 0;
  if (std::regex_match(AType, m, sized)) {
    base = m[1];
    size = m[2] == "max" ? 0 : std::stoul(m[2]);
  }
  if (base == "int") return {SQL_INTEGER, 10};
  if (base == "smallint") return {SQL_SMALLINT, 5};
  if (base == "bigint") return {SQL_BIGINT, 19};
  if (base == "bit") return {SQL_BIT, 1};
  if (base == "datetime") return {SQL_TYPE_TIMESTAMP, 23};
  if (base == "nvarchar" || base == "nchar") return {SQL_WVARCHAR, size ? size : 4000};
  return {SQL_VARCHAR, size ? size : 8000};
}

// Binds every column of the current result to a buffer of its natural C type, one row at a
// time, as a plain ODBC program reading the values would.
struct ValueBuffers {
  std::vector<std::vector<char>> Data;
  std::vector<SQLLEN> Ind;

  void Bind(SQLHSTMT AStmt, SQLSMALLINT AColumns) {
    Data.resize(static_cast<std::size_t>(AColumns));
    Ind.assign(static_cast<std::size_t>(AColumns), 0);
    for (SQLSMALLINT c = 1; c <= AColumns; ++c) {
      SQLCHAR name[256];
      SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      Check(SQLDescribeCol(AStmt, static_cast<SQLUSMALLINT>(c), name, sizeof name, &nameLen, &type,
                           &size, &digits, &nullable),
            SQL_HANDLE_STMT, AStmt, "describe");
      SQLSMALLINT cType = SQL_C_CHAR;
      std::size_t width = 0;
      switch (type) {
        case SQL_INTEGER:
        case SQL_SMALLINT:
        case SQL_TINYINT:
        case SQL_BIGINT:
          cType = SQL_C_SBIGINT, width = sizeof(SQLBIGINT);
          break;
        case SQL_BIT:
          cType = SQL_C_BIT, width = 1;
          break;
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE:
          cType = SQL_C_DOUBLE, width = sizeof(double);
          break;
        case SQL_TYPE_TIMESTAMP:
          cType = SQL_C_TYPE_TIMESTAMP, width = sizeof(SQL_TIMESTAMP_STRUCT);
          break;
        default:
          width = size == 0 || size > 8000 ? 8001 : size * 3 + 3;
          break;
      }
      auto& buffer = Data[static_cast<std::size_t>(c - 1)];
      buffer.assign(width, 0);
      Check(SQLBindCol(AStmt, static_cast<SQLUSMALLINT>(c), cType, buffer.data(),
                       static_cast<SQLLEN>(width), &Ind[static_cast<std::size_t>(c - 1)]),
            SQL_HANDLE_STMT, AStmt, "bind column");
    }
  }
};

}  // namespace

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

ReplayResult Replay(const std::string& AConnectionString,
                    const std::vector<standin::testing::LoggedStatement>& AStatements,
                    TRowHandling ARows) {
  static const std::regex marker(R"(@P\d+)");
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);

  // Texts and bound values are prepared before the clock starts.
  struct Prepared {
    std::string Sql;
    std::vector<std::pair<Bound, std::optional<std::string>>> Params;
  };
  std::vector<Prepared> work;
  for (const auto& s : AStatements) {
    Prepared p;
    p.Sql = s.params.empty() ? s.sql : std::regex_replace(s.sql, marker, "?");
    for (const auto& prm : s.params) p.Params.emplace_back(TypeOf(prm.type), prm.value);
    work.push_back(std::move(p));
  }

  ReplayResult result;
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ThreadCpuSeconds();
  Check(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)AConnectionString.c_str(), SQL_NTS, nullptr, 0,
                         nullptr, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, dbc, "connect");
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  std::vector<SQLLEN> indicators;
  ValueBuffers values;
  for (auto& p : work) {
    indicators.assign(p.Params.size(), 0);
    for (std::size_t i = 0; i < p.Params.size(); ++i) {
      auto& [type, value] = p.Params[i];
      indicators[i] = value ? static_cast<SQLLEN>(value->size()) : SQL_NULL_DATA;
      Check(SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR,
                             type.SqlType, type.Size, 0,
                             value ? const_cast<char*>(value->data()) : nullptr,
                             value ? static_cast<SQLLEN>(value->size()) : 0, &indicators[i]),
            SQL_HANDLE_STMT, stmt, "bind");
    }
    Check(SQLExecDirect(stmt, (SQLCHAR*)p.Sql.c_str(), static_cast<SQLINTEGER>(p.Sql.size())),
          SQL_HANDLE_STMT, stmt, p.Sql.c_str());
    do {
      SQLSMALLINT columns = 0;
      SQLNumResultCols(stmt, &columns);
      if (columns > 0) {
        if (ARows == TRowHandling::ReadEveryValue) values.Bind(stmt, columns);
        while (SQL_SUCCEEDED(SQLFetch(stmt))) ++result.Rows;
        SQLFreeStmt(stmt, SQL_UNBIND);
      }
    } while (SQL_SUCCEEDED(SQLMoreResults(stmt)));
    SQLFreeStmt(stmt, SQL_CLOSE);
    SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    ++result.Statements;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  SQLDisconnect(dbc);
  result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.CpuSeconds = ThreadCpuSeconds() - cpuStart;
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return result;
}

}  // namespace bunkmere::bench
