#include "tests/standin/FakeEngine.h"

#include <charconv>

#include "standin/server/StatementLog.h"

namespace standin::test {

std::unique_ptr<Session> FakeEngine::OpenSession(int spid, const std::string& database) {
  std::string db = database.empty() ? "master" : database;
  if (db == "nosuch")
    throw ServerError{{4060, 1, 11,
                       "Cannot open database \"nosuch\" requested by the login. The login failed.",
                       1, ""}};
  Record({spid, "open " + db, {}});
  return std::make_unique<FakeSession>(*this, spid, db);
}

void FakeSession::Execute(std::string_view sql, std::span<const Param> params, ResultSink& sink) {
  while (!sql.empty() && (sql.back() == '\n' || sql.back() == '\r' || sql.back() == ' '))
    sql.remove_suffix(1);
  engine_.Record({spid_, "exec " + std::string(sql), {params.begin(), params.end()}});
  auto col = [](std::string name, SqlType t, int len = 0) {
    ColumnInfo c;
    c.name = std::move(name);
    c.type = t;
    c.length = len;
    return c;
  };
  if (sql == "SELECT TYPED") {
    std::vector<ColumnInfo> cols = {
        col("i", SqlType::Int),          col("b", SqlType::Bit),
        col("c", SqlType::Char, 5),      col("v", SqlType::VarChar, 10),
        col("n", SqlType::NVarChar, 10), col("d", SqlType::DateTime),
        col("f", SqlType::Float),        col("m", SqlType::Decimal),
        col("t", SqlType::Text),         col("vm", SqlType::VarChar, -1),
        col("s", SqlType::SmallInt),     col("big", SqlType::BigInt)};
    cols[0].identity = true;
    cols[0].nullable = false;
    cols[1].updatable = true;
    cols[7].precision = 10;
    cols[7].scale = 2;
    sink.Columns(cols);
    Value row[12];
    row[0] = {Value::Kind::Int, 42, 0, {}};
    row[1] = {Value::Kind::Int, 1, 0, {}};
    row[2] = {Value::Kind::Text, 0, 0, "ab"};
    row[3] = {Value::Kind::Text, 0, 0, "caf\xC3\xA9"};
    row[4] = {Value::Kind::Text, 0, 0,
              "\xE2\x82\xAC"
              "uro"};
    row[5] = {Value::Kind::Text, 0, 0, "2024-02-29 13:45:10.997"};
    row[6] = {Value::Kind::Float, 0, 2.5, {}};
    row[7] = {Value::Kind::Text, 0, 0, "-1234.50"};
    row[8] = {Value::Kind::Text, 0, 0, "long text"};
    row[9] = {Value::Kind::Text, 0, 0, "max text"};
    row[10] = {Value::Kind::Int, -7, 0, {}};
    row[11] = {Value::Kind::Int, 1LL << 40, 0, {}};
    sink.Row(row);
    Value nulls[12] = {{Value::Kind::Int, 1, 0, {}}};
    sink.Row(nulls);
    sink.StatementDone(true, 2, false);
  } else if (sql.starts_with("SELECT MANY ")) {
    long n = 0;
    std::from_chars(sql.data() + 12, sql.data() + sql.size(), n);
    sink.Columns({col("k", SqlType::Int), col("label", SqlType::VarChar, 20)});
    long sent = 0;
    for (; sent < n && !sink.Cancelled(); ++sent) {
      Value row[2] = {{Value::Kind::Int, sent, 0, {}}, {Value::Kind::Text, 0, 0, "row label text"}};
      sink.Row(row);
    }
    sink.StatementDone(true, sent, false);
  } else if (sql.starts_with("USE ")) {
    std::string old = db_;
    db_ = std::string(sql.substr(4));
    sink.DatabaseChanged(old, db_);
    sink.StatementDone(false, 0, false);
  } else if (sql == "FAIL") {
    sink.Message({208, 1, 16, "Invalid object name 'nosuch'.", 1, ""});
    sink.StatementDone(false, 0, true);
  } else if (sql.starts_with("ECHO")) {
    sink.Columns({col("name", SqlType::VarChar, 30), col("type", SqlType::VarChar, 30),
                  col("value", SqlType::NVarChar, 100)});
    for (const auto& p : params) {
      std::string type = TypeName(p.type), value = ParamText(p);
      Value row[3] = {{Value::Kind::Text, 0, 0, p.name},
                      {Value::Kind::Text, 0, 0, type},
                      p.isNull ? Value{} : Value{Value::Kind::Text, 0, 0, value}};
      sink.Row(row);
    }
    sink.StatementDone(true, static_cast<std::int64_t>(params.size()), false);
  } else if (sql == "TWO") {
    sink.StatementDone(true, 3, false);
    sink.Columns({col("x", SqlType::Int)});
    Value row[1] = {{Value::Kind::Int, 7, 0, {}}};
    sink.Row(row);
    sink.StatementDone(true, 1, false);
  } else {
    sink.StatementDone(false, 0, false);
  }
}

bool FakeSession::ExecuteProcedure(std::string_view name, std::span<const Param> params,
                                   ResultSink& sink) {
  if (name != "sp_pkeys") return false;
  engine_.Record({spid_, "proc " + std::string(name), {params.begin(), params.end()}});
  ColumnInfo c;
  c.name = "COLUMN_NAME";
  c.type = SqlType::NVarChar;
  c.length = 128;
  sink.Columns({c});
  Value row[1] = {{Value::Kind::Text, 0, 0, "UniqueKey"}};
  sink.Row(row);
  sink.StatementDone(true, 1, false);
  return true;
}

}  // namespace standin::test
