#include "standin/engine/Executor.h"

#include <cstdlib>

#include "standin/engine/Convert.h"
#include "standin/engine/ExprTranslator.h"
#include "standin/engine/SqlError.h"
#include "standin/engine/Transactions.h"

namespace standin {

namespace {

// Where a row's values are copied before the lock is let go: one buffer for all text,
// reused from row to row, so the row path allocates nothing once it has grown.
struct RowBuffer {
  std::string text;
  std::vector<Value> values;
  std::vector<std::pair<std::size_t, std::size_t>> spans;  // offset, length per text value
};

enum class ReadAs { Integer, Floating, Decimal, Text };

ReadAs ReadKind(const ColumnInfo& c) {
  if (IsIntegerType(c.type) || c.type == SqlType::Bit) return ReadAs::Integer;
  if (c.type == SqlType::Float || c.type == SqlType::Real) return ReadAs::Floating;
  if (c.type == SqlType::Decimal) return ReadAs::Decimal;
  return ReadAs::Text;
}

void CopyRow(sqlite3_stmt* stmt, const std::vector<ReadAs>& kinds,
             const std::vector<ColumnInfo>& cols, RowBuffer& row) {
  row.text.clear();
  const int n = static_cast<int>(kinds.size());
  for (int i = 0; i < n; ++i) {
    Value& v = row.values[static_cast<std::size_t>(i)];
    v = Value{};
    auto& span = row.spans[static_cast<std::size_t>(i)];
    span = {0, 0};
    int storage = sqlite3_column_type(stmt, i);
    if (storage == SQLITE_NULL) continue;
    char num[64];
    switch (kinds[static_cast<std::size_t>(i)]) {
      case ReadAs::Integer:
        v.kind = Value::Kind::Int;
        if (storage == SQLITE_TEXT)
          v.i = std::strtoll(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)), nullptr,
                             10);
        else
          v.i = sqlite3_column_int64(stmt, i);
        break;
      case ReadAs::Floating:
        v.kind = Value::Kind::Float;
        v.f = sqlite3_column_double(stmt, i);
        break;
      case ReadAs::Decimal: {
        v.kind = Value::Kind::Text;
        int len;
        if (storage == SQLITE_INTEGER && cols[static_cast<std::size_t>(i)].scale == 0)
          len = std::snprintf(num, sizeof num, "%lld",
                              static_cast<long long>(sqlite3_column_int64(stmt, i)));
        else
          len = FormatDecimal(sqlite3_column_double(stmt, i),
                              cols[static_cast<std::size_t>(i)].scale, num);
        span = {row.text.size(), static_cast<std::size_t>(len)};
        row.text.append(num, static_cast<std::size_t>(len));
        break;
      }
      case ReadAs::Text: {
        v.kind = Value::Kind::Text;
        if (storage == SQLITE_INTEGER) {
          int len = std::snprintf(num, sizeof num, "%lld",
                                  static_cast<long long>(sqlite3_column_int64(stmt, i)));
          span = {row.text.size(), static_cast<std::size_t>(len)};
          row.text.append(num, static_cast<std::size_t>(len));
        } else if (storage == SQLITE_FLOAT) {
          int len = std::snprintf(num, sizeof num, "%.15g", sqlite3_column_double(stmt, i));
          span = {row.text.size(), static_cast<std::size_t>(len)};
          row.text.append(num, static_cast<std::size_t>(len));
        } else {
          const char* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
          std::size_t len = static_cast<std::size_t>(sqlite3_column_bytes(stmt, i));
          span = {row.text.size(), len};
          row.text.append(p ? p : "", len);
        }
        break;
      }
    }
  }
  // Views are made last: appending may have moved the buffer.
  for (int i = 0; i < n; ++i) {
    Value& v = row.values[static_cast<std::size_t>(i)];
    if (v.kind == Value::Kind::Text) {
      auto [offset, len] = row.spans[static_cast<std::size_t>(i)];
      v.text = std::string_view(row.text.data() + offset, len);
    }
  }
}

struct InUse {
  explicit InUse(Plan& p) : plan(p) { plan.inUse = true; }
  ~InUse() {
    sqlite3_reset(plan.stmt.get());
    sqlite3_clear_bindings(plan.stmt.get());
    plan.inUse = false;
  }
  Plan& plan;
};

}  // namespace

void Executor::Done(bool hasCount, std::int64_t count) {
  sink_.StatementDone(hasCount && !session_.nocount, count, false);
}

void Executor::Run(const Statement& statement, std::shared_ptr<Plan>& cached) {
  std::visit(
      [&](const auto& body) {
        using T = std::decay_t<decltype(body)>;
        // With IMPLICIT_TRANSACTIONS ON the statements that read tables or change them open a
        // transaction when none is open.
        constexpr bool opensImplicitly =
            std::is_same_v<T, InsertStmt> || std::is_same_v<T, UpdateStmt> ||
            std::is_same_v<T, DeleteStmt> || std::is_same_v<T, CreateTableStmt> ||
            std::is_same_v<T, DropTableStmt> || std::is_same_v<T, CreateIndexStmt>;
        bool reads = false;
        if constexpr (std::is_same_v<T, SelectStmt>) reads = !body.from.empty();
        if ((opensImplicitly || reads) && session_.implicitTransactions && session_.tranCount == 0)
          BeginTransaction(core_, session_, &sink_);
        if constexpr (std::is_same_v<T, SelectStmt> || std::is_same_v<T, InsertStmt> ||
                      std::is_same_v<T, UpdateStmt> || std::is_same_v<T, DeleteStmt>) {
          TranslateContext ctx{core_, session_, params_};
          std::string signature = ParamSignature(params_);
          std::shared_ptr<Plan> plan = cached;
          if (!plan || plan->inUse || !PlanMatches(*plan, ctx, signature)) {
            std::shared_ptr<Plan> fresh = Translate(statement, ctx);
            fresh->paramSignature = signature;
            fresh->stmt = Prepare(core_.db(), fresh->sql);
            // A plan another session is stepping stays where it is; this one runs uncached.
            if (!plan || !plan->inUse) cached = fresh;
            plan = std::move(fresh);
          }
          RunPlan(*plan);
        } else if constexpr (std::is_same_v<T, CreateTableStmt>) {
          CreateTable(body);
        } else if constexpr (std::is_same_v<T, DropTableStmt>) {
          DropTable(body);
        } else if constexpr (std::is_same_v<T, CreateIndexStmt>) {
          CreateIndex(body);
        } else if constexpr (std::is_same_v<T, CreateDatabaseStmt>) {
          CreateDatabase(body);
        } else if constexpr (std::is_same_v<T, UseStmt>) {
          Use(body);
        } else if constexpr (std::is_same_v<T, SetStmt>) {
          Set(body);
        } else if constexpr (std::is_same_v<T, ExecStmt>) {
          Exec(body);
        } else if constexpr (std::is_same_v<T, BeginTranStmt>) {
          BeginTransaction(core_, session_, &sink_);
          Done(false, 0);
        } else if constexpr (std::is_same_v<T, EndTranStmt>) {
          EndTran(body);
        }
      },
      statement.body);
}

const Statement* Executor::If(const IfStmt& s) {
  TranslateContext ctx{core_, session_, params_};
  Plan plan;
  static const std::vector<ScopeTable> kNoTables;
  ExprTranslator x(ctx, plan, kNoTables);
  plan.sql = "SELECT CASE WHEN " + x.Condition(*s.condition) + " THEN 1 ELSE 0 END";
  plan.stmt = Prepare(core_.db(), plan.sql);
  InUse guard(plan);
  Bind(plan);
  Execution exec;
  exec.session = &session_;
  core_.current = &exec;
  int rc = sqlite3_step(plan.stmt.get());
  core_.current = nullptr;
  if (rc != SQLITE_ROW) throw StepError(plan, exec);
  bool taken = sqlite3_column_int(plan.stmt.get(), 0) != 0;
  const Statement* branch = taken ? s.then.get() : s.otherwise.get();
  if (!branch) Done(false, 0);
  return branch;
}

void Executor::BindTo(const Plan& plan, sqlite3_stmt* stmt) {
  for (std::size_t k = 0; k < plan.paramSlots.size(); ++k) {
    const Param& p = params_[static_cast<std::size_t>(plan.paramSlots[k])];
    int at = static_cast<int>(k + 1);
    if (p.isNull) {
      sqlite3_bind_null(stmt, at);
      continue;
    }
    SqlType t = p.type.type;
    if (IsIntegerType(t) || t == SqlType::Bit) {
      sqlite3_bind_int64(stmt, at, p.i);
    } else if (t == SqlType::Float || t == SqlType::Real) {
      sqlite3_bind_double(stmt, at, p.f);
    } else if (t == SqlType::Decimal) {
      sqlite3_bind_double(stmt, at, std::strtod(p.text.c_str(), nullptr));
    } else {
      sqlite3_bind_text(stmt, at, p.text.data(), static_cast<int>(p.text.size()), SQLITE_STATIC);
    }
  }
}

SqlError Executor::StepError(Plan& plan, Execution& exec) {
  if (exec.error) return std::move(*exec.error);
  int code = sqlite3_extended_errcode(core_.db());
  if ((code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE) && plan.target) {
    std::string key;
    if (code == SQLITE_CONSTRAINT_PRIMARYKEY) {
      std::size_t keyColumns = plan.target->KeyColumns().size();
      for (std::size_t i = 0; i < keyColumns; ++i) {
        if (i) key += ", ";
        if (i < exec.keyValues.size()) key += exec.keyValues[i];
      }
      auto e = MakeError(2627,
                         FormatMessage("Violation of PRIMARY KEY constraint '%s'. Cannot "
                                       "insert duplicate key in object '%s'. The duplicate "
                                       "key value is (%s).",
                                       {plan.target->keyName, "dbo." + plan.target->name, key}),
                         1, 14);
      e.statementTerminated = true;
      return e;
    }
    auto e = MakeError(2601,
                       FormatMessage("Cannot insert duplicate key row in object '%s' with "
                                     "unique index.",
                                     {"dbo." + plan.target->name}),
                       1, 14);
    e.statementTerminated = true;
    return e;
  }
  return StorageError(core_.db());
}

void Executor::AfterInsert(Plan& plan) {
  TableDef& table = *plan.target;
  int identity = table.IdentityColumn();
  if (identity < 0) return;
  if (plan.explicitIdentity) {
    // Explicit keys move the counter past them, as SQL Server's identity does.
    auto st = Prepare(
        core_.db(),
        "SELECT max(" + QuoteId(table.columns[static_cast<std::size_t>(identity)].name) +
            ") FROM " + QuoteId(plan.targetDatabase->schema) + "." + QuoteId(table.storedName));
    if (sqlite3_step(st.get()) == SQLITE_ROW && sqlite3_column_type(st.get(), 0) != SQLITE_NULL) {
      std::int64_t top = sqlite3_column_int64(st.get(), 0);
      if (table.identityStep > 0 && top + table.identityStep > table.identityNext)
        table.identityNext = top + table.identityStep;
    }
  }
  StoreIdentity(core_.db(), *plan.targetDatabase, table);
}

void Executor::RunPlan(Plan& plan) {
  InUse guard(plan);
  Bind(plan);
  sqlite3_stmt* stmt = plan.stmt.get();
  Execution exec;
  exec.session = &session_;
  std::int64_t count = 0;
  int rc;
  Deadline deadline;
  if (!AwaitRows(plan, deadline)) return;
  if (plan.returnsRows) {
    sink_.Columns(plan.columns);
    std::vector<ReadAs> kinds;
    for (const ColumnInfo& c : plan.columns) kinds.push_back(ReadKind(c));
    RowBuffer row;
    row.values.resize(kinds.size());
    row.spans.resize(kinds.size());
    while (true) {
      if (sink_.Cancelled()) {
        cancelled_ = true;
        rc = SQLITE_DONE;
        break;
      }
      core_.current = &exec;
      rc = sqlite3_step(stmt);
      core_.current = nullptr;
      if (rc != SQLITE_ROW) break;
      CopyRow(stmt, kinds, plan.columns, row);
      ++count;
      lock_.unlock();
      try {
        sink_.Row(row.values);
      } catch (...) {
        lock_.lock();
        throw;
      }
      lock_.lock();
    }
  } else if (plan.target) {
    if (!StepWrite(plan, exec, deadline, rc)) return;
    if (rc == SQLITE_DONE) count = sqlite3_changes64(core_.db());
  } else {
    core_.current = &exec;
    rc = sqlite3_step(stmt);
    core_.current = nullptr;
    if (rc == SQLITE_DONE) count = sqlite3_changes64(core_.db());
  }
  if (rc != SQLITE_DONE) throw StepError(plan, exec);
  if (plan.isInsert) AfterInsert(plan);
  session_.rowCount = count;
  Done(true, count);
}

}  // namespace standin
