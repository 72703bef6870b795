#include "standin/engine/ExprTranslator.h"

#include <algorithm>
#include <cstdio>

#include "standin/engine/Convert.h"
#include "standin/engine/Functions.h"
#include "standin/engine/Parser.h"
#include "standin/engine/SqlError.h"

namespace standin {

namespace {

enum class Cat { None, Number, Text, Date };

Cat CatOf(const TExpr& x) {
  if (!x.typed) return Cat::None;
  if (IsNumericType(x.type.type)) return Cat::Number;
  if (x.type.type == SqlType::DateTime) return Cat::Date;
  return Cat::Text;
}

int Rank(SqlType t) {
  switch (t) {
    case SqlType::Bit:
      return 1;
    case SqlType::TinyInt:
      return 2;
    case SqlType::SmallInt:
      return 3;
    case SqlType::Int:
      return 4;
    case SqlType::BigInt:
      return 5;
    case SqlType::Decimal:
      return 6;
    case SqlType::Real:
      return 7;
    case SqlType::Float:
      return 8;
    default:
      return 0;
  }
}

TypeSpec Of(SqlType t, int length = 0) {
  TypeSpec s;
  s.type = t;
  s.length = length;
  if (t == SqlType::Decimal) s.precision = 38;
  return s;
}

TExpr Literal(std::string sql, TypeSpec type) {
  TExpr x;
  x.sql = std::move(sql);
  x.type = type;
  return x;
}

SqlError NotRecognized(std::string_view name) {
  auto e = MakeError(195, FormatMessage("'%s' is not a recognized built-in function name.", {name}),
                     10, 15);
  e.abortsBatch = true;
  return e;
}

SqlError ArgumentCount(std::string_view name, int count) {
  auto e = MakeError(
      174, FormatMessage("The %s function requires %s argument(s).", {name, std::to_string(count)}),
      1, 15);
  e.abortsBatch = true;
  return e;
}

}  // namespace

std::string ConvCall(const std::string& value, const TypeSpec& t, int flags, int keySlot,
                     const std::string& column, const std::string& table) {
  // Values written to a column go through ss_store, which SQLite evaluates once per row.
  const char* fn = (flags & kConvCast) ? "ss_conv(" : "ss_store(";
  char head[96];
  std::snprintf(head, sizeof head, ", %d, %d, %d, %d, %d, %d, ", static_cast<int>(t.type), t.length,
                t.precision, t.scale, flags, keySlot);
  return fn + value + head + QuoteText(column) + ", " + QuoteText(table) + ")";
}

ColumnInfo ExprTranslator::Describe(const TExpr& x, const std::string& name) const {
  ColumnInfo c;
  c.name = name;
  TypeSpec t = x.typed ? x.type : Of(SqlType::Int);
  c.type = t.type;
  c.length = t.length;
  c.precision = t.precision;
  c.scale = t.scale;
  if (x.column) {
    c.nullable = x.column->nullable;
    c.identity = x.column->identity;
    c.updatable = !x.column->identity;
    c.baseTable = x.table->name;
  }
  return c;
}

TExpr ExprTranslator::Value(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::Null: {
      TExpr x = Literal("NULL", Of(SqlType::Int));
      x.typed = false;
      return x;
    }
    case Expr::Kind::Integer: {
      bool small = e.integer >= INT32_MIN && e.integer <= INT32_MAX;
      return Literal(e.text, Of(small ? SqlType::Int : SqlType::BigInt));
    }
    case Expr::Kind::Decimal: {
      TypeSpec t = Of(SqlType::Decimal);
      auto dot = e.text.find('.');
      int digits = static_cast<int>(
          std::count_if(e.text.begin(), e.text.end(), [](char c) { return c >= '0' && c <= '9'; }));
      t.scale = dot == std::string::npos ? 0 : static_cast<int>(e.text.size() - dot - 1);
      t.precision = std::clamp(digits, std::max(t.scale, 1), 38);
      return Literal(e.text, t);
    }
    case Expr::Kind::Float:
      return Literal(e.text, Of(SqlType::Float));
    case Expr::Kind::String: {
      int length = std::max<int>(1, static_cast<int>(CharCount(e.text)));
      TExpr x = Literal(QuoteText(e.text), Of(e.national ? SqlType::NVarChar : SqlType::VarChar,
                                              length > 8000 ? -1 : length));
      x.stringLiteral = true;
      x.literal = e.text;
      return x;
    }
    case Expr::Kind::Variable:
      return Variable(e);
    case Expr::Kind::Global:
      return Global(e);
    case Expr::Kind::Column:
      return Column(e);
    case Expr::Kind::Star:
      throw SyntaxError("*");
    case Expr::Kind::Negate:
    case Expr::Kind::BitNot: {
      TExpr x = Value(*e.args[0]);
      if (CatOf(x) == Cat::Text) ConvertTo(x, Of(SqlType::Int));
      if (CatOf(x) == Cat::Date) throw NotSupported("datetime arithmetic");
      x.sql = (e.kind == Expr::Kind::Negate ? "(-" : "(~") + x.sql + ")";
      x.column = nullptr;
      x.stringLiteral = false;
      return x;
    }
    case Expr::Kind::Binary:
      return Arithmetic(e);
    case Expr::Kind::Function:
      return Function(e);
    case Expr::Kind::Cast: {
      TExpr x = Value(*e.args[0]);
      TypeSpec t = e.castType;
      return Literal(ConvCall(x.sql, t, kConvCast, 0, "", ""), t);
    }
    default:
      // A condition where a value belongs: SQL Server stops at the operator or keyword.
      throw SyntaxError(e.kind == Expr::Kind::Compare   ? e.text
                        : e.kind == Expr::Kind::And     ? "AND"
                        : e.kind == Expr::Kind::Or      ? "OR"
                        : e.kind == Expr::Kind::IsNull  ? "IS"
                        : e.kind == Expr::Kind::Like    ? "LIKE"
                        : e.kind == Expr::Kind::In      ? "IN"
                        : e.kind == Expr::Kind::Between ? "BETWEEN"
                                                        : "NOT");
  }
}

TExpr ExprTranslator::Variable(const Expr& e) {
  for (std::size_t i = 0; i < ctx_.params.size(); ++i) {
    const Param& p = ctx_.params[i];
    if (!EqualsNoCaseAscii(p.name, e.text)) continue;
    int slot = -1;
    for (std::size_t k = 0; k < plan_.paramSlots.size(); ++k)
      if (plan_.paramSlots[k] == static_cast<int>(i)) slot = static_cast<int>(k);
    if (slot < 0) {
      plan_.paramSlots.push_back(static_cast<int>(i));
      slot = static_cast<int>(plan_.paramSlots.size() - 1);
    }
    TypeSpec t;
    t.type = p.type.type;
    t.length = p.type.length;
    t.precision = p.type.precision;
    t.scale = p.type.scale;
    return Literal("?" + std::to_string(slot + 1), t);
  }
  auto err =
      MakeError(137, FormatMessage("Must declare the scalar variable \"%s\".", {e.text}), 2, 15);
  err.abortsBatch = true;
  throw err;
}

TExpr ExprTranslator::Global(const Expr& e) {
  const std::string& n = e.text;
  if (n == "@@SPID") return Literal("ss_session(0)", Of(SqlType::SmallInt));
  if (n == "@@IDENTITY") {
    TypeSpec t = Of(SqlType::Decimal);
    return Literal("ss_session(1)", t);
  }
  if (n == "@@ROWCOUNT") return Literal("ss_session(2)", Of(SqlType::Int));
  if (n == "@@TEXTSIZE") return Literal("ss_session(3)", Of(SqlType::Int));
  if (n == "@@TRANCOUNT") return Literal("ss_session(4)", Of(SqlType::Int));
  if (n == "@@LOCK_TIMEOUT") return Literal("ss_session(5)", Of(SqlType::Int));
  if (n == "@@ERROR" || n == "@@NESTLEVEL") return Literal("0", Of(SqlType::Int));
  if (n == "@@VERSION")
    return Literal(QuoteText("Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64) \n"
                             "\tsqlstandin: a SQLite-backed stand-in for tests\n"),
                   Of(SqlType::NVarChar, 300));
  if (n == "@@SERVERNAME" || n == "@@SERVICENAME")
    return Literal("'SQLSTANDIN'", Of(SqlType::NVarChar, 128));
  if (n == "@@LANGUAGE") return Literal("'us_english'", Of(SqlType::NVarChar, 128));
  if (n == "@@MAX_PRECISION") return Literal("38", Of(SqlType::TinyInt));
  if (n == "@@DATEFIRST") return Literal("7", Of(SqlType::TinyInt));
  if (n == "@@MICROSOFTVERSION") return Literal("251658240", Of(SqlType::Int));
  auto err = MakeError(137, FormatMessage("Must declare the scalar variable \"%s\".", {n}), 2, 15);
  err.abortsBatch = true;
  throw err;
}

TExpr ExprTranslator::Column(const Expr& e) {
  const ScopeTable* found = nullptr;
  int index = -1;
  for (const ScopeTable& t : scope_) {
    if (!e.qualifier.empty() && !EqualsNoCaseAscii(e.qualifier.back(), t.alias)) continue;
    int i = t.table->Find(e.text);
    if (i < 0) continue;
    if (found) {
      auto err = MakeError(209, FormatMessage("Ambiguous column name '%s'.", {e.text}));
      err.abortsBatch = true;
      throw err;
    }
    found = &t;
    index = i;
  }
  if (!found) {
    if (!e.qualifier.empty()) {
      bool known = std::any_of(scope_.begin(), scope_.end(), [&](const ScopeTable& t) {
        return EqualsNoCaseAscii(e.qualifier.back(), t.alias);
      });
      if (!known) {
        std::string written;
        for (auto& q : e.qualifier) written += q + ".";
        auto err = MakeError(4104, FormatMessage("The multi-part identifier \"%s\" could not be "
                                                 "bound.",
                                                 {written + e.text}));
        err.abortsBatch = true;
        throw err;
      }
    }
    throw InvalidColumn(e.text);
  }
  const ColumnDef& c = found->table->columns[static_cast<std::size_t>(index)];
  TExpr x = Literal(found->sqlAlias + "." + QuoteId(c.name), c.type);
  x.column = &c;
  x.table = found;
  return x;
}

void ExprTranslator::ConvertTo(TExpr& x, TypeSpec target) {
  if (target.type == SqlType::TinyInt || target.type == SqlType::SmallInt)
    target = Of(SqlType::Int);
  if (x.stringLiteral) {
    std::string buffer;
    Dyn in;
    in.kind = Dyn::Kind::Text;
    in.text = x.literal;
    Dyn out = ConvertValue(in, target, ctx_.session.dateOrder, ConvertMode::Cast, buffer);
    plan_.dateOrder = ctx_.session.dateOrder;
    switch (out.kind) {
      case Dyn::Kind::Int:
        x.sql = std::to_string(out.i);
        break;
      case Dyn::Kind::Float: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", out.f);
        x.sql = buf;
        break;
      }
      case Dyn::Kind::Text:
        x.sql = QuoteText(out.text);
        break;
      case Dyn::Kind::Null:
        x.sql = "NULL";
        break;
    }
  } else {
    x.sql = ConvCall(x.sql, target, kConvCast, 0, "", "");
  }
  x.type = target;
  x.stringLiteral = false;
  x.column = nullptr;
}

void ExprTranslator::Coerce(TExpr& a, TExpr& b) {
  Cat ca = CatOf(a), cb = CatOf(b);
  if (ca == Cat::Number && cb == Cat::Text)
    ConvertTo(b, a.type);
  else if (ca == Cat::Text && cb == Cat::Number)
    ConvertTo(a, b.type);
  else if (ca == Cat::Date && cb != Cat::Date && cb != Cat::None)
    ConvertTo(b, Of(SqlType::DateTime));
  else if (cb == Cat::Date && ca != Cat::Date && ca != Cat::None)
    ConvertTo(a, Of(SqlType::DateTime));
}

TExpr ExprTranslator::AsText(TExpr x) {
  if (CatOf(x) == Cat::Text || CatOf(x) == Cat::None) return x;
  x.sql = ConvCall(x.sql, Of(SqlType::VarChar, -1), kConvCast, 0, "", "");
  x.type = Of(SqlType::VarChar, -1);
  x.column = nullptr;
  return x;
}

std::string ExprTranslator::Compare(const Expr& e) {
  TExpr a = Value(*e.args[0]);
  TExpr b = Value(*e.args[1]);
  Coerce(a, b);
  // Text compares under SQL Server's collation: case and trailing blanks do not count.
  bool text = CatOf(a) == Cat::Text && CatOf(b) == Cat::Text;
  return "(" + a.sql + " " + e.text + " " + b.sql + (text ? " COLLATE SQLSRV)" : ")");
}

std::string ExprTranslator::Condition(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::And:
      return "(" + Condition(*e.args[0]) + " AND " + Condition(*e.args[1]) + ")";
    case Expr::Kind::Or:
      return "(" + Condition(*e.args[0]) + " OR " + Condition(*e.args[1]) + ")";
    case Expr::Kind::Not:
      return "(NOT " + Condition(*e.args[0]) + ")";
    case Expr::Kind::Compare:
      return Compare(e);
    case Expr::Kind::IsNull:
      return "(" + Value(*e.args[0]).sql + (e.negated ? " IS NOT NULL)" : " IS NULL)");
    case Expr::Kind::Like: {
      TExpr v = AsText(Value(*e.args[0]));
      TExpr p = AsText(Value(*e.args[1]));
      std::string call = "ss_like(" + v.sql + ", " + p.sql;
      if (e.args.size() > 2) call += ", " + AsText(Value(*e.args[2])).sql;
      call += ")";
      return e.negated ? "(NOT " + call + ")" : call;
    }
    case Expr::Kind::In: {
      TExpr left = Value(*e.args[0]);
      std::vector<TExpr> items;
      for (std::size_t i = 1; i < e.args.size(); ++i) {
        items.push_back(Value(*e.args[i]));
        Coerce(left, items.back());
      }
      bool text = CatOf(left) == Cat::Text;
      std::string sql =
          "(" + left.sql + (text ? " COLLATE SQLSRV" : "") + (e.negated ? " NOT IN (" : " IN (");
      for (std::size_t i = 0; i < items.size(); ++i) sql += (i ? ", " : "") + items[i].sql;
      return sql + "))";
    }
    case Expr::Kind::Between: {
      TExpr v = Value(*e.args[0]);
      TExpr lo = Value(*e.args[1]);
      TExpr hi = Value(*e.args[2]);
      Coerce(v, lo);
      Coerce(v, hi);
      bool text = CatOf(v) == Cat::Text;
      return "(" + v.sql + (text ? " COLLATE SQLSRV" : "") +
             (e.negated ? " NOT BETWEEN " : " BETWEEN ") + lo.sql + " AND " + hi.sql + ")";
    }
    default: {
      // A value where a condition belongs.
      auto err = MakeError(4145,
                           "An expression of non-boolean type specified in a context where a "
                           "condition is expected.",
                           1, 15);
      err.abortsBatch = true;
      throw err;
    }
  }
}

TExpr ExprTranslator::Arithmetic(const Expr& e) {
  TExpr a = Value(*e.args[0]);
  TExpr b = Value(*e.args[1]);
  Cat ca = CatOf(a), cb = CatOf(b);
  if (ca == Cat::Date || cb == Cat::Date) throw NotSupported("datetime arithmetic");
  if (e.text == "+" && (ca == Cat::Text || ca == Cat::None) &&
      (cb == Cat::Text || cb == Cat::None) && !(ca == Cat::None && cb == Cat::None)) {
    bool national = a.type.type == SqlType::NVarChar || b.type.type == SqlType::NVarChar ||
                    a.type.type == SqlType::NChar || b.type.type == SqlType::NChar;
    int length = (a.type.length < 0 || b.type.length < 0) ? -1 : a.type.length + b.type.length;
    if (length > 8000) length = -1;
    return Literal("(" + a.sql + " || " + b.sql + ")",
                   Of(national ? SqlType::NVarChar : SqlType::VarChar, length));
  }
  Coerce(a, b);
  TypeSpec t = Rank(a.type.type) >= Rank(b.type.type) ? a.type : b.type;
  if (!a.typed) t = b.type;
  if (t.type == SqlType::Bit || t.type == SqlType::TinyInt || t.type == SqlType::SmallInt)
    t = Of(SqlType::Int);
  if (e.text == "^")
    return Literal("((" + a.sql + " | " + b.sql + ") - (" + a.sql + " & " + b.sql + "))", t);
  return Literal("(" + a.sql + " " + e.text + " " + b.sql + ")", t);
}

TExpr ExprTranslator::Function(const Expr& e) {
  const std::string& f = e.text;
  auto need = [&](std::size_t n) {
    if (e.args.size() != n) throw ArgumentCount(f, static_cast<int>(n));
  };
  auto arg = [&](std::size_t i) { return Value(*e.args[i]); };
  if (f == "COUNT" || f == "COUNT_BIG") {
    SqlType t = f == "COUNT" ? SqlType::Int : SqlType::BigInt;
    if (e.star) return Literal("count(*)", Of(t));
    need(1);
    return Literal(std::string("count(") + (e.distinct ? "DISTINCT " : "") + arg(0).sql + ")",
                   Of(t));
  }
  if (f == "SUM" || f == "MIN" || f == "MAX" || f == "AVG") {
    need(1);
    TExpr x = arg(0);
    TypeSpec t = x.typed ? x.type : Of(SqlType::Int);
    std::string d = e.distinct ? "DISTINCT " : "";
    if (f == "MIN" || f == "MAX") {
      bool text = CatOf(x) == Cat::Text;
      return Literal((f == "MIN" ? "min(" : "max(") + d + x.sql + (text ? " COLLATE SQLSRV)" : ")"),
                     t);
    }
    if (CatOf(x) != Cat::Number) {
      auto err = MakeError(8117, FormatMessage("Operand data type %s is invalid for %s operator.",
                                               {TypeName(t.type), f == "SUM" ? "sum" : "avg"}));
      err.abortsBatch = true;
      throw err;
    }
    if (t.type == SqlType::Bit) {
      auto err = MakeError(8117, "Operand data type bit is invalid for sum operator.");
      err.abortsBatch = true;
      throw err;
    }
    if (IsIntegerType(t.type) && t.type != SqlType::BigInt) t = Of(SqlType::Int);
    if (f == "SUM") return Literal("sum(" + d + x.sql + ")", t);
    if (IsIntegerType(t.type)) return Literal("CAST(avg(" + d + x.sql + ") AS INTEGER)", t);
    return Literal("avg(" + d + x.sql + ")", t);
  }
  if (f == "UPPER" || f == "LOWER" || f == "LTRIM" || f == "RTRIM") {
    need(1);
    TExpr x = AsText(arg(0));
    std::string fn = f == "UPPER"   ? "upper("
                     : f == "LOWER" ? "lower("
                     : f == "LTRIM" ? "ltrim("
                                    : "rtrim(";
    std::string extra = (f == "LTRIM" || f == "RTRIM") ? ", ' ')" : ")";
    TypeSpec t = x.typed ? x.type : Of(SqlType::VarChar, 1);
    if (t.type == SqlType::Char) t.type = SqlType::VarChar;
    if (t.type == SqlType::NChar) t.type = SqlType::NVarChar;
    return Literal(fn + x.sql + extra, t);
  }
  if (f == "LEN") {
    need(1);
    return Literal("length(rtrim(" + AsText(arg(0)).sql + ", ' '))", Of(SqlType::Int));
  }
  if (f == "SUBSTRING") {
    need(3);
    TExpr x = AsText(arg(0));
    TExpr s = arg(1), n = arg(2);
    TypeSpec t = x.type;
    if (t.type == SqlType::Char) t.type = SqlType::VarChar;
    if (t.type == SqlType::NChar) t.type = SqlType::NVarChar;
    // T-SQL counts a start before 1 against the length; SQLite does the same for substr.
    return Literal("substr(" + x.sql + ", " + s.sql + ", " + n.sql + ")", t);
  }
  if (f == "REPLACE") {
    need(3);
    return Literal("replace(" + AsText(arg(0)).sql + ", " + AsText(arg(1)).sql + ", " +
                       AsText(arg(2)).sql + ")",
                   Of(SqlType::VarChar, 8000));
  }
  if (f == "ISNULL") {
    need(2);
    TExpr a = arg(0), b = arg(1);
    TypeSpec t = a.typed ? a.type : b.type;
    if (a.typed && b.typed && CatOf(a) != CatOf(b)) ConvertTo(b, a.type);
    return Literal("ifnull(" + a.sql + ", " + b.sql + ")", t);
  }
  if (f == "COALESCE") {
    if (e.args.size() < 2) throw ArgumentCount(f, 2);
    std::string sql = "coalesce(";
    TypeSpec t = Of(SqlType::Int);
    bool typed = false;
    for (std::size_t i = 0; i < e.args.size(); ++i) {
      TExpr x = arg(i);
      if (!typed && x.typed) {
        t = x.type;
        typed = true;
      }
      sql += (i ? ", " : "") + x.sql;
    }
    return Literal(sql + ")", t);
  }
  if (f == "ABS") {
    need(1);
    TExpr x = arg(0);
    return Literal("abs(" + x.sql + ")", x.type);
  }
  if (f == "ROUND") {
    if (e.args.size() < 2) throw ArgumentCount(f, 2);
    TExpr x = arg(0);
    return Literal("round(" + x.sql + ", " + arg(1).sql + ")", x.type);
  }
  if (f == "GETDATE" || f == "CURRENT_TIMESTAMP" || f == "SYSDATETIME") {
    need(0);
    return Literal("ss_getdate()", Of(SqlType::DateTime));
  }
  if (f == "DB_NAME") {
    if (!e.args.empty()) throw NotSupported("DB_NAME with an argument");
    return Literal(QuoteText(ctx_.session.database), Of(SqlType::NVarChar, 128));
  }
  if (f.starts_with("ERROR_")) {
    static constexpr std::pair<std::string_view, int> kErrorFunctions[] = {
        {"ERROR_NUMBER", kErrorNumber},
        {"ERROR_SEVERITY", kErrorSeverity},
        {"ERROR_STATE", kErrorState},
        {"ERROR_LINE", kErrorLine},
        {"ERROR_MESSAGE", kErrorMessage}};
    for (auto [name, which] : kErrorFunctions) {
      if (f != name) continue;
      need(0);
      return Literal("ss_session(" + std::to_string(which) + ")",
                     which == kErrorMessage ? Of(SqlType::NVarChar, 4000) : Of(SqlType::Int));
    }
    if (f == "ERROR_PROCEDURE") {
      need(0);
      return Literal("NULL", Of(SqlType::NVarChar, 128));  // no procedures run here
    }
  }
  if (f == "SCOPE_IDENTITY") {
    need(0);
    return Literal("ss_session(1)", Of(SqlType::Decimal));
  }
  if (f == "OBJECT_ID") {
    if (e.args.empty() || e.args.size() > 2) throw ArgumentCount(f, 1);
    if (e.args[0]->kind != Expr::Kind::String) throw NotSupported("OBJECT_ID of an expression");
    ObjectName name;
    try {
      name = ParseObjectName(e.args[0]->text);
    } catch (const SqlError&) {
      return Literal("NULL", Of(SqlType::Int));
    }
    auto r = ctx_.core.Resolve(name, ctx_.session);
    if (r.database) plan_.dependencies.emplace_back(r.database, r.database->version);
    if (IsLocalTemp(name.Name())) plan_.spid = ctx_.session.spid;
    if (!r.table) return Literal("NULL", Of(SqlType::Int));
    if (r.table->objectId != 0) return Literal(std::to_string(r.table->objectId), Of(SqlType::Int));
    // A stable number per table, as SQL Server's object ids are.
    std::uint32_t id = 2166136261u;
    for (unsigned char c : r.database->name + "." + r.table->storedName) id = (id ^ c) * 16777619u;
    return Literal(std::to_string(id & 0x7FFFFFFF), Of(SqlType::Int));
  }
  if (f == "SUSER_SNAME" || f == "SUSER_NAME" || f == "USER_NAME" || f == "CURRENT_USER") {
    return Literal("'dbo'", Of(SqlType::NVarChar, 128));
  }
  throw NotRecognized(f);
}

std::string ExprTranslator::Store(const TExpr& x, const TypeSpec& target, int flags, int keySlot,
                                  const std::string& column, const std::string& table) {
  if (x.typed && !x.stringLiteral && x.type.type == SqlType::DateTime) flags |= kConvTyped;
  return ConvCall(x.sql, target, flags, keySlot, column, table);
}

}  // namespace standin
