#include <algorithm>

#include "standin/engine/Convert.h"
#include "standin/engine/ExprTranslator.h"
#include "standin/engine/Functions.h"
#include "standin/engine/Parser.h"
#include "standin/engine/SqlError.h"

namespace standin {

namespace {

class StatementTranslator {
 public:
  explicit StatementTranslator(TranslateContext& ctx) : ctx_(ctx), plan_(std::make_unique<Plan>()) {
    plan_->database = ctx.session.database;
    plan_->dateOrder = ctx.session.dateOrder;
  }

  std::unique_ptr<Plan> Run(const Statement& s) {
    std::visit(
        [&](const auto& body) {
          using T = std::decay_t<decltype(body)>;
          if constexpr (std::is_same_v<T, SelectStmt>) {
            Select(body);
          } else if constexpr (std::is_same_v<T, InsertStmt>) {
            Insert(body);
          } else if constexpr (std::is_same_v<T, UpdateStmt>) {
            Update(body);
          } else if constexpr (std::is_same_v<T, DeleteStmt>) {
            Delete(body);
          }
        },
        s.body);
    return std::move(plan_);
  }

 private:
  ScopeTable Resolve(const ObjectName& name, const std::string& alias, std::size_t index) {
    auto r = ctx_.core.Resolve(name, ctx_.session);
    if (!r.table) throw InvalidObject(name.written);
    if (IsLocalTemp(r.table->name)) plan_->spid = ctx_.session.spid;
    bool known = std::any_of(plan_->dependencies.begin(), plan_->dependencies.end(),
                             [&](auto& d) { return d.first == r.database; });
    if (!known) plan_->dependencies.emplace_back(r.database, r.database->version);
    ScopeTable t;
    t.name = r.table->name;
    t.alias = alias.empty() ? r.table->name : alias;
    t.sqlAlias = "t" + std::to_string(index);
    t.database = r.database;
    t.table = r.table;
    return t;
  }

  static std::string Stored(const ScopeTable& t) {
    return QuoteId(t.database->schema) + "." + QuoteId(t.table->storedName);
  }

  // Name of a table as SQL Server prints it in constraint messages.
  static std::string ObjectText(const ScopeTable& t) { return "dbo." + t.name; }
  static std::string FullText(const ScopeTable& t) { return t.database->name + ".dbo." + t.name; }

  struct SelectParts {
    std::vector<TExpr> items;
    std::vector<std::string> names;
    std::string tail;   // FROM ... to the end
    std::string rows;   // FROM ... WHERE ...: the rows the statement reads
    std::string where;  // " WHERE ...", empty without one
  };

  // The probe of the rows of scope table `t` that `rows` (FROM ... WHERE ...) reaches; `where`
  // (" WHERE ...") when `t` is the statement's only table.
  Plan::Probe ProbeOf(const ScopeTable& t, const std::string& rows, const std::string* where) {
    Plan::Probe p;
    if (where) {
      p.imageFirstParam = static_cast<int>(plan_->paramSlots.size()) + 1;
      std::string image;
      for (std::size_t i = 0; i < t.table->columns.size(); ++i) {
        const ColumnDef& c = t.table->columns[i];
        bool text = IsTextType(c.type.type);
        image += (i ? ", ?" : "?") + std::to_string(p.imageFirstParam + static_cast<int>(i)) +
                 (text ? " COLLATE SQLSRV" : "") + " AS " + QuoteId(c.name);
      }
      p.imageSql = "SELECT 1 FROM (SELECT " + image + ") AS " + t.sqlAlias + *where;
    }
    p.lockTable = LockTable(*t.database, *t.table);
    p.table = t.table;
    std::string keys;
    for (int i : t.table->KeyColumns())
      keys += (keys.empty() ? "" : ", ") + t.sqlAlias + "." +
              QuoteId(t.table->columns[static_cast<std::size_t>(i)].name);
    p.sql = "SELECT " + (keys.empty() ? t.sqlAlias + ".rowid" : keys) + rows;
    return p;
  }

  SelectParts SelectBody(const SelectStmt& s, ExprTranslator& x) {
    SelectParts parts;
    for (const SelectItem& item : s.items) {
      if (item.expr->kind == Expr::Kind::Star) {
        if (scope_.empty()) {
          auto e = MakeError(263, "Must specify table to select from.");
          e.abortsBatch = true;
          throw e;
        }
        bool any = false;
        for (const ScopeTable& t : scope_) {
          if (!item.expr->qualifier.empty() &&
              !EqualsNoCaseAscii(item.expr->qualifier.back(), t.alias))
            continue;
          any = true;
          for (const ColumnDef& c : t.table->columns) {
            TExpr col;
            col.sql = t.sqlAlias + "." + QuoteId(c.name);
            col.type = c.type;
            col.column = &c;
            col.table = &t;
            parts.items.push_back(std::move(col));
            parts.names.push_back(c.name);
          }
        }
        if (!any) {
          auto e =
              MakeError(4104, FormatMessage("The multi-part identifier \"%s\" could not be bound.",
                                            {item.expr->qualifier.back()}));
          e.abortsBatch = true;
          throw e;
        }
        continue;
      }
      TExpr v = x.Value(*item.expr);
      std::string name = item.hasAlias ? item.alias : v.column ? v.column->name : std::string();
      parts.items.push_back(std::move(v));
      parts.names.push_back(std::move(name));
    }
    std::string& tail = parts.tail;
    if (!scope_.empty()) {
      tail += " FROM ";
      for (std::size_t i = 0; i < scope_.size(); ++i)
        tail += (i ? ", " : "") + Stored(scope_[i]) + " AS " + scope_[i].sqlAlias;
    }
    if (s.where) parts.where = " WHERE " + x.Condition(*s.where);
    tail += parts.where;
    parts.rows = tail;
    if (!s.groupBy.empty()) {
      tail += " GROUP BY ";
      for (std::size_t i = 0; i < s.groupBy.size(); ++i) {
        TExpr g = x.Value(*s.groupBy[i]);
        bool text = g.typed && IsTextType(g.type.type);
        tail += (i ? ", " : "") + g.sql + (text ? " COLLATE SQLSRV" : "");
      }
    }
    if (s.having) tail += " HAVING " + x.Condition(*s.having);
    if (!s.orderBy.empty()) {
      tail += " ORDER BY ";
      for (std::size_t i = 0; i < s.orderBy.size(); ++i) {
        const Expr& o = *s.orderBy[i].expr;
        std::string term;
        if (o.kind == Expr::Kind::Integer) {
          if (o.integer < 1 || o.integer > static_cast<std::int64_t>(parts.items.size())) {
            auto e = MakeError(108,
                               FormatMessage("The ORDER BY position number %s is out of range "
                                             "of the number of items in the select list.",
                                             {o.text}),
                               1, 15);
            e.abortsBatch = true;
            throw e;
          }
          term = o.text;
        } else if (o.kind == Expr::Kind::Column && o.qualifier.empty()) {
          for (std::size_t k = 0; k < parts.names.size(); ++k)
            if (s.items.size() > k && s.items[k].hasAlias &&
                EqualsNoCaseAscii(parts.names[k], o.text))
              term = std::to_string(k + 1);
        }
        if (term.empty()) {
          TExpr v = x.Value(o);
          term = v.sql + (v.typed && IsTextType(v.type.type) ? " COLLATE SQLSRV" : "");
        }
        tail += (i ? ", " : "") + term + (s.orderBy[i].descending ? " DESC" : "");
      }
    }
    if (s.top) tail += " LIMIT " + x.Value(*s.top).sql;
    return parts;
  }

  void Select(const SelectStmt& s) {
    for (std::size_t i = 0; i < s.from.size(); ++i)
      scope_.push_back(Resolve(s.from[i].name, s.from[i].alias, i));
    ExprTranslator x(ctx_, *plan_, scope_);
    SelectParts parts = SelectBody(s, x);
    std::string sql = s.distinct ? "SELECT DISTINCT " : "SELECT ";
    for (std::size_t i = 0; i < parts.items.size(); ++i) {
      sql += (i ? ", " : "") + parts.items[i].sql;
      plan_->columns.push_back(x.Describe(parts.items[i], parts.names[i]));
    }
    plan_->sql = sql + parts.tail;
    plan_->returnsRows = true;
    for (std::size_t i = 0; i < scope_.size(); ++i)
      if (!s.from[i].readUncommitted)
        plan_->probes.push_back(
            ProbeOf(scope_[i], parts.rows, scope_.size() == 1 ? &parts.where : nullptr));
  }

  ScopeTable Target(const TableRef& ref) {
    scope_.push_back(Resolve(ref.name, ref.alias, 0));
    plan_->targetDatabase = scope_[0].database;
    plan_->target = scope_[0].table;
    plan_->lockTable = LockTable(*scope_[0].database, *scope_[0].table);
    return scope_[0];
  }

  int KeySlot(const ColumnDef& c) const { return c.keyOrdinal; }

  // The value of a column the statement does not give: its DEFAULT, or NULL.
  TExpr DefaultFor(const ColumnDef& c) {
    if (c.defaultSql.empty()) {
      TExpr n;
      n.sql = "NULL";
      n.typed = false;
      return n;
    }
    static const std::vector<ScopeTable> kNoTables;
    ExprTranslator d(ctx_, *plan_, kNoTables);
    return d.Value(*ParseExpression(c.defaultSql));
  }

  void Insert(const InsertStmt& s) {
    ScopeTable target = Target(s.table);
    const TableDef& table = *target.table;
    std::vector<int> given;  // table column index per statement column
    for (const std::string& name : s.columns) {
      int i = table.Find(name);
      if (i < 0) throw InvalidColumn(name);
      if (std::find(given.begin(), given.end(), i) != given.end()) {
        auto e =
            MakeError(264, FormatMessage("The column name '%s' is specified more than once in "
                                         "the SET clause or column list of an INSERT. A column "
                                         "cannot be assigned more than one value in the same "
                                         "clause. Modify the clause to ensure that a column is "
                                         "updated only once. If this statement updates or "
                                         "inserts columns into a view, column aliasing can "
                                         "conceal these changes.",
                                         {name}));
        e.abortsBatch = true;
        throw e;
      }
      given.push_back(i);
    }
    int identity = table.IdentityColumn();
    bool identityInsert = ctx_.session.identityInsert == &table;
    if (s.columns.empty()) {
      if (identityInsert) {
        auto e = MakeError(8101, FormatMessage("An explicit value for the identity column in table "
                                               "'%s' can only be specified when a column list is "
                                               "used and IDENTITY_INSERT is ON.",
                                               {table.name}));
        throw e;
      }
      for (std::size_t i = 0; i < table.columns.size(); ++i)
        if (static_cast<int>(i) != identity) given.push_back(static_cast<int>(i));
    }
    if (identity >= 0 && std::find(given.begin(), given.end(), identity) != given.end()) {
      if (!identityInsert) {
        auto e = MakeError(544, FormatMessage("Cannot insert explicit value for identity column in "
                                              "table '%s' when IDENTITY_INSERT is set to OFF.",
                                              {table.name}));
        e.statementTerminated = false;
        throw e;
      }
      plan_->explicitIdentity = true;
      plan_->cacheable = false;
    }
    plan_->isInsert = true;
    // VALUES may not name columns: they are translated with no table in scope.
    static const std::vector<ScopeTable> kNoTables;
    ExprTranslator x(ctx_, *plan_, kNoTables);
    const std::string full = FullText(target);
    std::string sql = "INSERT INTO " + Stored(target) + "(";
    for (std::size_t i = 0; i < table.columns.size(); ++i)
      sql += (i ? ", " : "") + QuoteId(table.columns[i].name);
    sql += ") ";

    // One row of values in table column order from the values the statement gives.
    auto row = [&](const std::vector<TExpr*>& values) {
      std::string out = "(";
      for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const ColumnDef& c = table.columns[i];
        auto at = std::find(given.begin(), given.end(), static_cast<int>(i));
        TExpr* v =
            at == given.end() ? nullptr : values[static_cast<std::size_t>(at - given.begin())];
        if (out.size() > 1) out += ", ";
        if (c.identity && !v) {
          out += "ss_ident(" + QuoteText(target.database->name) + ", " +
                 QuoteText(table.storedName) + ", " + std::to_string(KeySlot(c)) + ")";
          continue;
        }
        TExpr value = v ? *v : DefaultFor(c);
        out += x.Store(value, c.type, kConvInsert | (c.nullable ? 0 : kConvNotNull), KeySlot(c),
                       c.name, full);
      }
      return out + ")";
    };

    auto countMismatch = [&](std::size_t count) {
      if (count == given.size()) return;
      SqlError e;
      if (s.columns.empty())
        e = MakeError(213,
                      "Column name or number of supplied values does not match table "
                      "definition.");
      else if (count < given.size())
        e = MakeError(109,
                      "There are more columns in the INSERT statement than values specified "
                      "in the VALUES clause. The number of values in the VALUES clause must "
                      "match the number of columns specified in the INSERT statement.");
      else
        e = MakeError(110,
                      "There are fewer columns in the INSERT statement than values specified "
                      "in the VALUES clause. The number of values in the VALUES clause must "
                      "match the number of columns specified in the INSERT statement.");
      e.abortsBatch = true;
      throw e;
    };

    if (s.select) {
      std::vector<ScopeTable> saved = std::move(scope_);
      scope_.clear();
      for (std::size_t i = 0; i < s.select->from.size(); ++i)
        scope_.push_back(Resolve(s.select->from[i].name, s.select->from[i].alias, i + 1));
      ExprTranslator sx(ctx_, *plan_, scope_);
      SelectParts parts = SelectBody(*s.select, sx);
      countMismatch(parts.items.size());
      std::vector<TExpr*> values;
      for (auto& item : parts.items) values.push_back(&item);
      std::string r = row(values);
      sql += std::string(s.select->distinct ? "SELECT DISTINCT " : "SELECT ") +
             r.substr(1, r.size() - 2) + parts.tail;
      scope_ = std::move(saved);
    } else if (s.defaultValues) {
      given.clear();
      sql += "VALUES " + row({});
    } else {
      std::vector<std::vector<TExpr>> rows(s.rows.size());
      for (std::size_t r = 0; r < s.rows.size(); ++r) {
        countMismatch(s.rows[r].size());
        rows[r].reserve(s.rows[r].size());
        for (std::size_t k = 0; k < s.rows[r].size(); ++k) {
          const auto& e = s.rows[r][k];
          rows[r].push_back(e ? x.Value(*e)
                              : DefaultFor(table.columns[static_cast<std::size_t>(given[k])]));
        }
      }
      // Store converts a value by the target column and by whether the value is already a
      // stored date-time; rows that agree on the latter can share one set of conversions.
      auto typedDateTime = [](const TExpr& v) {
        return v.typed && !v.stringLiteral && v.type.type == SqlType::DateTime;
      };
      bool sameShape = rows.size() > 1;
      for (std::size_t r = 1; sameShape && r < rows.size(); ++r)
        for (std::size_t k = 0; sameShape && k < rows[r].size(); ++k)
          sameShape = typedDateTime(rows[r][k]) == typedDateTime(rows[0][k]);
      if (sameShape) {
        // SQLite compiles a long VALUES list of bare values many times faster than the same
        // list with a conversion call around every value, so the conversions are written once
        // over the columns of a VALUES subquery. Rows are still converted and inserted one
        // after another in the order given, so errors and identity values come out the same.
        std::vector<TExpr> columns = rows[0];
        std::vector<TExpr*> pointers;
        for (std::size_t k = 0; k < columns.size(); ++k) {
          columns[k].sql = "column" + std::to_string(k + 1);
          pointers.push_back(&columns[k]);
        }
        std::string r = row(pointers);
        sql += "SELECT " + r.substr(1, r.size() - 2) + " FROM (VALUES ";
        for (std::size_t n = 0; n < rows.size(); ++n) {
          sql += n ? "), (" : "(";
          for (std::size_t k = 0; k < rows[n].size(); ++k) sql += (k ? ", " : "") + rows[n][k].sql;
        }
        sql += "))";
      } else {
        sql += "VALUES ";
        for (std::size_t n = 0; n < rows.size(); ++n) {
          std::vector<TExpr*> pointers;
          for (auto& v : rows[n]) pointers.push_back(&v);
          sql += (n ? ", " : "") + row(pointers);
        }
      }
    }
    plan_->sql = std::move(sql);
  }

  void Update(const UpdateStmt& s) {
    ScopeTable target = Target(s.table);
    const TableDef& table = *target.table;
    ExprTranslator x(ctx_, *plan_, scope_);
    const std::string full = FullText(target);
    std::string sets;
    std::vector<int> seen;
    for (const auto& [name, value] : s.sets) {
      int i = table.Find(name);
      if (i < 0) throw InvalidColumn(name);
      const ColumnDef& c = table.columns[static_cast<std::size_t>(i)];
      if (c.identity) {
        auto e = MakeError(8102, FormatMessage("Cannot update identity column '%s'.", {c.name}));
        e.abortsBatch = true;
        throw e;
      }
      if (std::find(seen.begin(), seen.end(), i) != seen.end()) {
        auto e =
            MakeError(264, FormatMessage("The column name '%s' is specified more than once in "
                                         "the SET clause or column list of an INSERT. A column "
                                         "cannot be assigned more than one value in the same "
                                         "clause. Modify the clause to ensure that a column is "
                                         "updated only once. If this statement updates or "
                                         "inserts columns into a view, column aliasing can "
                                         "conceal these changes.",
                                         {c.name}));
        e.abortsBatch = true;
        throw e;
      }
      seen.push_back(i);
      TExpr v = value ? x.Value(*value) : DefaultFor(c);
      sets += (sets.empty() ? "" : ", ") + QuoteId(c.name) + " = " +
              x.Store(v, c.type, c.nullable ? 0 : kConvNotNull, KeySlot(c), c.name, full);
    }
    std::string where = s.where ? " WHERE " + x.Condition(*s.where) : std::string();
    plan_->sql = "UPDATE " + Stored(target) + " AS t0 SET " + sets + where;
    plan_->probes.push_back(ProbeOf(target, " FROM " + Stored(target) + " AS t0" + where, &where));
  }

  void Delete(const DeleteStmt& s) {
    ScopeTable target = Target(s.table);
    ExprTranslator x(ctx_, *plan_, scope_);
    std::string where = s.where ? " WHERE " + x.Condition(*s.where) : std::string();
    plan_->sql = "DELETE FROM " + Stored(target) + " AS t0" + where;
    plan_->probes.push_back(ProbeOf(target, " FROM " + Stored(target) + " AS t0" + where, &where));
  }

  TranslateContext& ctx_;
  std::unique_ptr<Plan> plan_;
  std::vector<ScopeTable> scope_;
};

}  // namespace

std::unique_ptr<Plan> Translate(const Statement& statement, TranslateContext& ctx) {
  StatementTranslator t(ctx);
  return t.Run(statement);
}

std::string ParamSignature(std::span<const Param> params) {
  std::string sig;
  for (const Param& p : params) {
    sig += p.name;
    sig += ':';
    sig += std::to_string(static_cast<int>(p.type.type));
    sig += ',';
    sig += std::to_string(p.type.length);
    sig += ';';
  }
  return sig;
}

bool PlanMatches(const Plan& plan, const TranslateContext& ctx, const std::string& signature) {
  if (!plan.cacheable || plan.database != ctx.session.database ||
      plan.dateOrder != ctx.session.dateOrder || plan.paramSignature != signature)
    return false;
  if (plan.spid >= 0 && plan.spid != ctx.session.spid) return false;
  if (plan.target && ctx.session.identityInsert == plan.target.get()) return false;
  for (const auto& [db, version] : plan.dependencies)
    if (db->version != version) return false;
  return true;
}

}  // namespace standin
