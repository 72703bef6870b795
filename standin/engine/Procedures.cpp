// The catalog procedures ODBC drivers call: sp_pkeys (SQLPrimaryKeys), sp_columns
// (SQLColumns) and sp_tables (SQLTables), with the result shapes SQL Server gives them.

#include <algorithm>

#include "standin/engine/Convert.h"
#include "standin/engine/Executor.h"
#include "standin/engine/Functions.h"
#include "standin/engine/SqlError.h"

namespace standin {

namespace {

// A parameter by name, or by position when it was passed without one.
const Param* Arg(std::span<const Param> params, std::string_view name, std::size_t position) {
  for (const Param& p : params)
    if (EqualsNoCaseAscii(p.name, name)) return p.isNull ? nullptr : &p;
  if (position < params.size() && params[position].name.empty())
    return params[position].isNull ? nullptr : &params[position];
  return nullptr;
}

std::string Text(const Param* p) {
  if (!p) return {};
  if (IsIntegerType(p->type.type) || p->type.type == SqlType::Bit) return std::to_string(p->i);
  return p->text;
}

ColumnInfo Col(std::string name, SqlType type, int length = 0, bool nullable = true) {
  ColumnInfo c;
  c.name = std::move(name);
  c.type = type;
  c.length = length;
  c.nullable = nullable;
  return c;
}

// Rows built as owned text or integers, handed over as Values.
class Rows {
 public:
  void Add(std::vector<Dyn> row, std::vector<std::string> texts) {
    texts_.push_back(std::move(texts));
    rows_.push_back(std::move(row));
  }
  std::size_t Send(ResultSink& sink) {
    std::vector<Value> values;
    for (std::size_t r = 0; r < rows_.size(); ++r) {
      values.clear();
      std::size_t t = 0;
      for (const Dyn& d : rows_[r]) {
        Value v;
        switch (d.kind) {
          case Dyn::Kind::Null:
            break;
          case Dyn::Kind::Int:
            v.kind = Value::Kind::Int;
            v.i = d.i;
            break;
          case Dyn::Kind::Float:
            v.kind = Value::Kind::Float;
            v.f = d.f;
            break;
          case Dyn::Kind::Text:
            v.kind = Value::Kind::Text;
            v.text = texts_[r][t++];
            break;
        }
        values.push_back(v);
      }
      sink.Row(values);
    }
    return rows_.size();
  }

 private:
  std::vector<std::vector<Dyn>> rows_;
  std::vector<std::vector<std::string>> texts_;
};

Dyn I(std::int64_t v) {
  Dyn d;
  d.kind = Dyn::Kind::Int;
  d.i = v;
  return d;
}
Dyn T() {
  Dyn d;
  d.kind = Dyn::Kind::Text;
  return d;
}
Dyn N() {
  return Dyn{};
}

// The database a qualifier names; SQL Server only answers for the current one.
Database* Qualified(EngineCore& core, SessionState& session, const Param* qualifier) {
  std::string q = Text(qualifier);
  if (!q.empty() && !EqualsNoCaseAscii(q, session.database))
    throw MakeError(15250,
                    "The database name component of the object qualifier must be the name "
                    "of the current database.");
  return core.Find(session.database);
}

bool OwnerMatches(const Param* owner) {
  std::string o = Text(owner);
  return o.empty() || LikeMatch("dbo", o, -1);
}

struct OdbcType {
  int dataType, precision, length;
  bool hasScale;
  int radix, ssType;
};

OdbcType Odbc(const TypeSpec& t, int odbcVersion) {
  switch (t.type) {
    case SqlType::TinyInt:
      return {-6, 3, 1, true, 10, 38};
    case SqlType::SmallInt:
      return {5, 5, 2, true, 10, 38};
    case SqlType::Int:
      return {4, 10, 4, true, 10, 38};
    case SqlType::BigInt:
      return {-5, 19, 8, true, 10, 108};
    case SqlType::Bit:
      return {-7, 1, 1, false, 0, 50};
    case SqlType::Float:
      return {6, 15, 8, false, 10, 109};
    case SqlType::Real:
      return {7, 7, 4, false, 10, 109};
    case SqlType::Decimal:
      return {3, t.precision, t.precision + 2, true, 10, 106};
    case SqlType::Char:
      return {1, t.length, t.length, false, 0, 47};
    case SqlType::VarChar:
      return t.length < 0 ? OdbcType{-1, 2147483647, 2147483647, false, 0, 35}
                          : OdbcType{12, t.length, t.length, false, 0, 39};
    case SqlType::NChar:
      return {-8, t.length, t.length * 2, false, 0, 47};
    case SqlType::NVarChar:
      return t.length < 0 ? OdbcType{-10, 1073741823, 2147483646, false, 0, 99}
                          : OdbcType{-9, t.length, t.length * 2, false, 0, 39};
    case SqlType::Text:
      return {-1, 2147483647, 2147483647, false, 0, 35};
    case SqlType::NText:
      return {-10, 1073741823, 2147483646, false, 0, 99};
    case SqlType::DateTime:
      return {odbcVersion >= 3 ? 93 : 11, 23, 16, true, 0, 111};
  }
  return {4, 10, 4, true, 10, 38};
}

std::vector<std::shared_ptr<TableDef>> Tables(Database* db, const std::string& pattern) {
  std::vector<std::shared_ptr<TableDef>> out;
  if (!db) return out;
  for (auto& [key, table] : db->tables) {
    if (IsLocalTemp(table->name)) continue;
    if (pattern.empty() || LikeMatch(table->name, pattern, -1)) out.push_back(table);
  }
  return out;
}

void PrimaryKeys(EngineCore& core, SessionState& session, std::span<const Param> params,
                 ResultSink& sink) {
  std::string name = Text(Arg(params, "@table_name", 0));
  const Param* owner = Arg(params, "@table_owner", 1);
  Database* db = Qualified(core, session, Arg(params, "@table_qualifier", 2));
  sink.Columns(
      {Col("TABLE_QUALIFIER", SqlType::NVarChar, 128), Col("TABLE_OWNER", SqlType::NVarChar, 128),
       Col("TABLE_NAME", SqlType::NVarChar, 128, false),
       Col("COLUMN_NAME", SqlType::NVarChar, 128, false),
       Col("KEY_SEQ", SqlType::SmallInt, 0, false), Col("PK_NAME", SqlType::NVarChar, 128)});
  Rows rows;
  auto r = db ? db->Find(name) : nullptr;
  if (IsGlobalTemp(name)) r = core.Tempdb()->Find(name);
  if (r && OwnerMatches(owner)) {
    auto key = r->KeyColumns();
    for (std::size_t k = 0; k < key.size(); ++k)
      rows.Add({T(), T(), T(), T(), I(static_cast<std::int64_t>(k + 1)), T()},
               {db->name, "dbo", r->name, r->columns[static_cast<std::size_t>(key[k])].name,
                r->keyName});
  }
  std::size_t n = rows.Send(sink);
  sink.StatementDone(true, static_cast<std::int64_t>(n), false);
}

void ColumnsProc(EngineCore& core, SessionState& session, std::span<const Param> params,
                 ResultSink& sink) {
  std::string name = Text(Arg(params, "@table_name", 0));
  const Param* owner = Arg(params, "@table_owner", 1);
  Database* db = Qualified(core, session, Arg(params, "@table_qualifier", 2));
  std::string column = Text(Arg(params, "@column_name", 3));
  const Param* version = Arg(params, "@ODBCVer", 4);
  int odbc = version ? static_cast<int>(version->type.type == SqlType::Int
                                            ? version->i
                                            : std::atoi(version->text.c_str()))
                     : 2;
  sink.Columns({Col("TABLE_QUALIFIER", SqlType::NVarChar, 128),
                Col("TABLE_OWNER", SqlType::NVarChar, 128),
                Col("TABLE_NAME", SqlType::NVarChar, 128, false),
                Col("COLUMN_NAME", SqlType::NVarChar, 128, false),
                Col("DATA_TYPE", SqlType::SmallInt, 0, false),
                Col("TYPE_NAME", SqlType::NVarChar, 128, false), Col("PRECISION", SqlType::Int),
                Col("LENGTH", SqlType::Int), Col("SCALE", SqlType::SmallInt),
                Col("RADIX", SqlType::SmallInt), Col("NULLABLE", SqlType::SmallInt, 0, false),
                Col("REMARKS", SqlType::VarChar, 254), Col("COLUMN_DEF", SqlType::NVarChar, 4000),
                Col("SQL_DATA_TYPE", SqlType::SmallInt, 0, false),
                Col("SQL_DATETIME_SUB", SqlType::SmallInt), Col("CHAR_OCTET_LENGTH", SqlType::Int),
                Col("ORDINAL_POSITION", SqlType::Int), Col("IS_NULLABLE", SqlType::VarChar, 254),
                Col("SS_DATA_TYPE", SqlType::TinyInt)});
  Rows rows;
  if (OwnerMatches(owner)) {
    auto tables = IsGlobalTemp(name) ? Tables(core.Tempdb(), name) : Tables(db, name);
    for (const auto& t : tables) {
      for (std::size_t i = 0; i < t->columns.size(); ++i) {
        const ColumnDef& c = t->columns[i];
        if (!column.empty() && !LikeMatch(c.name, column, -1)) continue;
        OdbcType o = Odbc(c.type, odbc);
        std::string typeName(TypeName(c.type.type));
        if (c.identity) typeName += " identity";
        bool isText = IsTextType(c.type.type);
        bool date = c.type.type == SqlType::DateTime;
        std::vector<Dyn> row = {T(),
                                T(),
                                T(),
                                T(),
                                I(o.dataType),
                                T(),
                                I(o.precision),
                                I(o.length),
                                o.hasScale ? I(date ? 3 : c.type.scale) : N(),
                                o.radix ? I(o.radix) : N(),
                                I(c.nullable ? 1 : 0),
                                N(),
                                c.defaultSql.empty() ? N() : T(),
                                I(date ? 9 : o.dataType),
                                date ? I(3) : N(),
                                isText ? I(o.length) : N(),
                                I(static_cast<std::int64_t>(i + 1)),
                                T(),
                                I(o.ssType)};
        std::vector<std::string> texts = {db ? db->name : "tempdb", "dbo", t->name, c.name,
                                          typeName};
        if (!c.defaultSql.empty()) texts.push_back("(" + c.defaultSql + ")");
        texts.push_back(c.nullable ? "YES" : "NO");
        rows.Add(std::move(row), std::move(texts));
      }
    }
  }
  std::size_t n = rows.Send(sink);
  sink.StatementDone(true, static_cast<std::int64_t>(n), false);
}

void TablesProc(EngineCore& core, SessionState& session, std::span<const Param> params,
                ResultSink& sink) {
  std::string name = Text(Arg(params, "@table_name", 0));
  const Param* owner = Arg(params, "@table_owner", 1);
  Database* db = Qualified(core, session, Arg(params, "@table_qualifier", 2));
  std::string types = Text(Arg(params, "@table_type", 3));
  sink.Columns({Col("TABLE_QUALIFIER", SqlType::NVarChar, 128),
                Col("TABLE_OWNER", SqlType::NVarChar, 128),
                Col("TABLE_NAME", SqlType::NVarChar, 128), Col("TABLE_TYPE", SqlType::VarChar, 32),
                Col("REMARKS", SqlType::VarChar, 254)});
  Rows rows;
  bool wantTables = types.empty() || types.find("TABLE") != std::string::npos;
  if (wantTables && OwnerMatches(owner)) {
    for (const auto& t : Tables(db, name))
      rows.Add({T(), T(), T(), T(), N()}, {db->name, "dbo", t->name, "TABLE"});
  }
  std::size_t n = rows.Send(sink);
  sink.StatementDone(true, static_cast<std::int64_t>(n), false);
}

std::string_view LastPart(std::string_view name) {
  // master.dbo.sp_pkeys, [dbo].[sp_pkeys]
  auto dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(dot + 1);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
    name = name.substr(1, name.size() - 2);
  return name;
}

}  // namespace

bool RunProcedure(EngineCore& core, SessionState& session, std::string_view name,
                  std::span<const Param> params, ResultSink& sink) {
  std::string_view proc = LastPart(name);
  if (EqualsNoCaseAscii(proc, "sp_pkeys")) {
    PrimaryKeys(core, session, params, sink);
    return true;
  }
  if (EqualsNoCaseAscii(proc, "sp_columns")) {
    ColumnsProc(core, session, params, sink);
    return true;
  }
  if (EqualsNoCaseAscii(proc, "sp_tables")) {
    TablesProc(core, session, params, sink);
    return true;
  }
  return false;
}

}  // namespace standin
