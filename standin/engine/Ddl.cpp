// The statements that change the catalog or the session rather than rows.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "standin/engine/Convert.h"
#include "standin/engine/Executor.h"
#include "standin/engine/Parser.h"
#include "standin/engine/SqlError.h"

namespace standin {

namespace {

std::string StorageType(const TypeSpec& t) {
  if (IsIntegerType(t.type) || t.type == SqlType::Bit) return "INTEGER";
  if (t.type == SqlType::Float || t.type == SqlType::Real) return "REAL";
  if (t.type == SqlType::Decimal) return t.scale == 0 ? "INTEGER" : "REAL";
  if (t.type == SqlType::DateTime) return "TEXT";
  return "TEXT COLLATE SQLSRV";
}

// SQL Server names an unnamed primary key PK__<table>__<16 hex digits>.
std::string KeyName(const std::string& table) {
  std::uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : table) h = (h ^ c) * 1099511628211ULL;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(h));
  std::string head;
  for (std::size_t i = 0, chars = 0; i < table.size() && chars < 8; ++i) {
    head += table[i];
    if ((static_cast<unsigned char>(table[i]) & 0xC0) != 0x80 &&
        (i + 1 == table.size() || (static_cast<unsigned char>(table[i + 1]) & 0xC0) != 0x80))
      ++chars;
  }
  return "PK__" + head + "__" + hex;
}

SqlError Batch(SqlError e) {
  e.abortsBatch = true;
  return e;
}

}  // namespace

void Executor::CreateTable(const CreateTableStmt& s) {
  const std::string& name = s.name.Name();
  auto r = core_.Resolve(s.name, session_);
  if (!r.database) {
    if (s.name.parts.size() == 3)
      throw MakeError(2702, FormatMessage("Database '%s' does not exist.", {s.name.parts[0]}));
    throw InvalidObject(s.name.written);
  }
  bool temp = IsGlobalTemp(name) || IsLocalTemp(name);
  if (temp && CharCount(name) > 116)
    throw Batch(MakeError(193,
                          FormatMessage("The object or column name starting with '%s' is too "
                                        "long. The maximum length is 116 characters.",
                                        {name}),
                          1, 15));
  if (r.table)
    throw MakeError(
        2714, FormatMessage("There is already an object named '%s' in the database.", {name}), 6);
  auto table = std::make_shared<TableDef>();
  table->name = name;
  table->storedName = r.key;
  table->ownerSpid = temp ? session_.spid : 0;
  if (temp) table->objectId = core_.NewTempObjectId();
  int identities = 0;
  for (const ColumnDecl& d : s.columns) {
    if (table->Find(d.name) >= 0)
      throw MakeError(2705, FormatMessage("Column names in each table must be unique. Column name "
                                          "'%s' in table '%s' is specified more than once.",
                                          {d.name, name}));
    if (d.identity) {
      if (++identities > 1)
        throw MakeError(2744, FormatMessage("Multiple identity columns specified for table '%s'. "
                                            "Only one identity column per table is allowed.",
                                            {name}));
      bool integral =
          IsIntegerType(d.type.type) || (d.type.type == SqlType::Decimal && d.type.scale == 0);
      if (!integral || d.increment == 0)
        throw MakeError(2749,
                        FormatMessage("Identity column '%s' must be of data type int, bigint, "
                                      "smallint, tinyint, or decimal or numeric with a scale "
                                      "of 0, and constrained to be nonnullable.",
                                      {d.name}));
      table->identityNext = d.seed;
      table->identityStep = d.increment;
    }
    if (!d.defaultSql.empty()) ParseExpression(d.defaultSql);  // refuse a default that cannot run
    ColumnDef c;
    c.name = d.name;
    c.type = d.type;
    c.nullable = d.nullable;
    c.identity = d.identity;
    c.defaultSql = d.defaultSql;
    table->columns.push_back(std::move(c));
  }
  for (std::size_t k = 0; k < s.primaryKey.size(); ++k) {
    int i = table->Find(s.primaryKey[k]);
    if (i < 0)
      throw MakeError(1911, FormatMessage("Column name '%s' does not exist in the target table or "
                                          "view.",
                                          {s.primaryKey[k]}));
    ColumnDef& c = table->columns[static_cast<std::size_t>(i)];
    c.nullable = false;  // key columns never hold NULL
    c.keyOrdinal = static_cast<int>(k + 1);
  }
  if (!s.primaryKey.empty())
    table->keyName = s.constraintName.empty() ? KeyName(name) : s.constraintName;

  std::string sql =
      "CREATE TABLE " + QuoteId(r.database->schema) + "." + QuoteId(table->storedName) + "(";
  for (std::size_t i = 0; i < table->columns.size(); ++i)
    sql += (i ? ", " : "") + QuoteId(table->columns[i].name) + " " +
           StorageType(table->columns[i].type);
  if (!s.primaryKey.empty()) {
    sql += ", PRIMARY KEY(";
    auto key = table->KeyColumns();
    for (std::size_t i = 0; i < key.size(); ++i)
      sql += (i ? ", " : "") + QuoteId(table->columns[static_cast<std::size_t>(key[i])].name);
    sql += ")";
  }
  sql += ")";
  ExecSql(core_.db(), "SAVEPOINT create_table");
  try {
    ExecSql(core_.db(), sql);
    StoreTable(core_.db(), *r.database, *table);
    ExecSql(core_.db(), "RELEASE create_table");
  } catch (...) {
    ExecSql(core_.db(), "ROLLBACK TO create_table; RELEASE create_table");
    throw;
  }
  r.database->tables[r.key] = table;
  ++r.database->version;
  if (temp) session_.temporaries.push_back(table);
  Done(false, 0);
}

void Executor::DropTable(const DropTableStmt& s) {
  for (const ObjectName& name : s.names) {
    // SQLite refuses a DROP while another session is part-way through a result (sessions send
    // their rows with the engine unlocked); SQL Server makes the DROP wait for such readers.
    // So does the stand-in, for a while, giving them the engine meanwhile.
    for (int attempt = 0;; ++attempt) {
      try {
        DropOneTable(name, s.ifExists);
        break;
      } catch (const SqlError&) {
        if (!readerInTheWay_ || attempt == kDropAttempts) throw;
      }
      lock_.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      lock_.lock();
    }
  }
  Done(false, 0);
}

void Executor::DropOneTable(const ObjectName& name, bool ifExists) {
  readerInTheWay_ = false;
  {
    auto r = core_.Resolve(name, session_);
    if (!r.table) {
      if (ifExists) return;
      throw MakeError(3701,
                      FormatMessage("Cannot drop the table '%s', because it does not exist or "
                                    "you do not have permission.",
                                    {name.written}),
                      5, 11);
    }
    ExecSql(core_.db(), "SAVEPOINT drop_table");
    try {
      ExecSql(core_.db(),
              "DROP TABLE " + QuoteId(r.database->schema) + "." + QuoteId(r.table->storedName));
      ForgetTable(core_.db(), *r.database, *r.table);
      ExecSql(core_.db(), "RELEASE drop_table");
    } catch (...) {
      readerInTheWay_ = sqlite3_errcode(core_.db()) == SQLITE_LOCKED;
      ExecSql(core_.db(), "ROLLBACK TO drop_table; RELEASE drop_table");
      throw;
    }
    r.database->tables.erase(r.key);
    ++r.database->version;
    if (session_.identityInsert == r.table.get()) session_.identityInsert = nullptr;
  }
}

void Executor::CreateIndex(const CreateIndexStmt& s) {
  auto r = core_.Resolve(s.table, session_);
  if (!r.table)
    throw Batch(MakeError(1088, FormatMessage("Cannot find the object \"%s\" because it does not "
                                              "exist or you do not have permissions.",
                                              {s.table.written})));
  std::string sql = std::string("CREATE ") + (s.unique ? "UNIQUE " : "") + "INDEX " +
                    QuoteId(r.database->schema) + "." +
                    QuoteId(r.table->storedName + "$" + s.name) + " ON " +
                    QuoteId(r.table->storedName) + "(";
  for (std::size_t i = 0; i < s.columns.size(); ++i) {
    int c = r.table->Find(s.columns[i].first);
    if (c < 0)
      throw MakeError(1911, FormatMessage("Column name '%s' does not exist in the target table or "
                                          "view.",
                                          {s.columns[i].first}));
    sql += (i ? ", " : "") + QuoteId(r.table->columns[static_cast<std::size_t>(c)].name) +
           (s.columns[i].second ? " DESC" : "");
  }
  sql += ")";
  auto st = Prepare(core_.db(), "SELECT 1 FROM " + QuoteId(r.database->schema) +
                                    ".sqlite_master WHERE type = 'index' AND name = ?");
  std::string stored = r.table->storedName + "$" + s.name;
  sqlite3_bind_text(st.get(), 1, stored.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(st.get()) == SQLITE_ROW)
    throw MakeError(1913, FormatMessage("The operation failed because an index or statistics with "
                                        "name '%s' already exists on table '%s'.",
                                        {s.name, "dbo." + r.table->name}));
  st.reset();
  ExecSql(core_.db(), sql);
  ++r.database->version;
  Done(false, 0);
}

void Executor::CreateDatabase(const CreateDatabaseStmt& s) {
  core_.Create(s.name);
  Done(false, 0);
}

void Executor::Use(const UseStmt& s) {
  Database* db = core_.Find(s.name);
  if (!db)
    throw MakeError(911, FormatMessage("Database '%s' does not exist. Make sure that the name is "
                                       "entered correctly.",
                                       {s.name}));
  std::string old = session_.database;
  session_.database = db->name;
  if (old != db->name) {
    sink_.DatabaseChanged(old, db->name);
    ServerMessage info;
    info.number = 5701;
    info.state = 2;
    info.severity = 0;
    info.text = FormatMessage("Changed database context to '%s'.", {db->name});
    sink_.Message(info);
  }
  Done(false, 0);
}

void Executor::Set(const SetStmt& s) {
  const std::string& v = s.value;
  bool on = v == "ON", off = v == "OFF";
  for (const std::string& option : s.options) {
    auto onOff = [&] {
      if (!on && !off) throw SyntaxError(v);
    };
    if (option == "QUOTED_IDENTIFIER") {
      onOff();
      session_.quotedIdentifier = on;
    } else if (option == "NOCOUNT") {
      onOff();
      session_.nocount = on;
    } else if (option == "DATEFORMAT") {
      if (!ParseDateOrder(v, session_.dateOrder))
        throw MakeError(2741, "SET DATEFORMAT date order not supported.");
    } else if (option == "TEXTSIZE") {
      session_.textSize = std::atoi(v.c_str());
    } else if (option == "LANGUAGE") {
      if (!EqualsNoCaseAscii(v, "us_english") && !EqualsNoCaseAscii(v, "english"))
        throw NotSupported("SET LANGUAGE " + v);
    } else if (option == "IMPLICIT_TRANSACTIONS") {
      onOff();
      session_.implicitTransactions = on;
    } else if (option == "XACT_ABORT") {
      onOff();
      session_.xactAbort = on;
    } else if (option == "LOCK_TIMEOUT") {
      char* end = nullptr;
      long ms = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || ms < -1 || ms > 2147483647L) throw SyntaxError(v);
      session_.lockTimeoutMs = static_cast<int>(ms);
    } else if (option == "TRANSACTION ISOLATION LEVEL") {
      // Only READ UNCOMMITTED changes what the stand-in does: its reads wait for no row. The
      // stricter levels hold no read locks here; they read as READ COMMITTED does.
      session_.readUncommitted = v == "READ UNCOMMITTED";
    } else if (option == "ROWCOUNT") {
      if (std::atoll(v.c_str()) != 0) throw NotSupported("SET ROWCOUNT");
    } else if (option == "FMTONLY" || option == "PARSEONLY" || option == "NOEXEC" ||
               option == "SHOWPLAN_ALL" || option == "SHOWPLAN_TEXT" || option == "SHOWPLAN_XML") {
      onOff();
      if (on) throw NotSupported("SET " + option);
    } else if (option == "IDENTITY_INSERT") {
      auto r = core_.Resolve(s.objects[0], session_);
      if (!r.table) throw InvalidObject(s.objects[0].written);
      if (r.table->IdentityColumn() < 0)
        throw MakeError(8106,
                        FormatMessage("Table '%s' does not have the identity property. Cannot "
                                      "perform SET operation.",
                                      {s.objects[0].written}));
      if (on)
        session_.identityInsert = r.table.get();
      else if (session_.identityInsert == r.table.get())
        session_.identityInsert = nullptr;
    } else if (option == "DATEFIRST" || option == "DEADLOCK_PRIORITY" ||
               option == "QUERY_GOVERNOR_COST_LIMIT") {
      // Accepted and without effect here.
    } else if (option.starts_with("ANSI_") || option == "CONCAT_NULL_YIELDS_NULL" ||
               option == "ARITHABORT" || option == "ARITHIGNORE" ||
               option == "NUMERIC_ROUNDABORT" || option == "CURSOR_CLOSE_ON_COMMIT" ||
               option == "NO_BROWSETABLE" || option == "STATISTICS" || option == "FORCEPLAN" ||
               option == "REMOTE_PROC_TRANSACTIONS") {
      onOff();
    } else {
      throw SyntaxError(option);
    }
  }
  Done(false, 0);
}

void Executor::Exec(const ExecStmt& s) {
  std::vector<Param> params;
  for (const auto& [name, expr] : s.args) {
    Param p;
    p.name = name;
    switch (expr->kind) {
      case Expr::Kind::Null:
        break;
      case Expr::Kind::Integer:
        p.isNull = false;
        p.type.type = SqlType::Int;
        p.i = expr->integer;
        break;
      case Expr::Kind::String:
        p.isNull = false;
        p.type.type = SqlType::NVarChar;
        p.text = expr->text;
        break;
      case Expr::Kind::Column:  // EXEC sp_pkeys CFGCELL: a bare word is a text
        if (!expr->qualifier.empty()) throw SyntaxError(".");
        p.isNull = false;
        p.type.type = SqlType::NVarChar;
        p.text = expr->text;
        break;
      case Expr::Kind::Variable: {
        auto it = std::find_if(params_.begin(), params_.end(), [&](const Param& q) {
          return EqualsNoCaseAscii(q.name, expr->text);
        });
        if (it == params_.end())
          throw Batch(MakeError(
              137, FormatMessage("Must declare the scalar variable \"%s\".", {expr->text}), 2, 15));
        std::string keep = p.name;
        p = *it;
        p.name = keep;
        break;
      }
      default:
        throw NotSupported("EXEC with an expression argument");
    }
    params.push_back(std::move(p));
  }
  if (!RunProcedure(core_, session_, s.procedure.Name(), params, sink_))
    throw MakeError(
        2812, FormatMessage("Could not find stored procedure '%s'.", {s.procedure.written}), 62);
}

}  // namespace standin
