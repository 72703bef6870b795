#pragma once
// Translates T-SQL expressions to SQLite expressions, inferring SQL Server's type of each and
// converting operands as SQL Server does before comparing them (a string literal compared
// with an INT column is read as an int, a text column compared with a number is converted).

#include <memory>
#include <string>
#include <vector>

#include "standin/engine/Plan.h"

namespace standin {

struct ScopeTable {
  std::string name;      // the table's name
  std::string alias;     // what the statement calls it (alias, or the name)
  std::string sqlAlias;  // t0, t1 ... in the SQLite text
  Database* database = nullptr;
  std::shared_ptr<TableDef> table;
};

struct TExpr {
  std::string sql;
  TypeSpec type;
  bool typed = true;           // false for a NULL literal
  bool stringLiteral = false;  // 'text': converted while translating when compared
  std::string literal;
  const ColumnDef* column = nullptr;  // a plain column of a scope table
  const ScopeTable* table = nullptr;
};

class ExprTranslator {
 public:
  ExprTranslator(TranslateContext& ctx, Plan& plan, const std::vector<ScopeTable>& scope)
      : ctx_(ctx), plan_(plan), scope_(scope) {}

  TExpr Value(const Expr& e);
  std::string Condition(const Expr& e);
  // ss_conv(...) of `x` to `target` as a column value; `flags` from ConvFlags.
  std::string Store(const TExpr& x, const TypeSpec& target, int flags, int keySlot,
                    const std::string& column, const std::string& table);
  ColumnInfo Describe(const TExpr& x, const std::string& name) const;

 private:
  TExpr Column(const Expr& e);
  TExpr Function(const Expr& e);
  TExpr Global(const Expr& e);
  TExpr Variable(const Expr& e);
  TExpr Arithmetic(const Expr& e);
  std::string Compare(const Expr& e);
  void Coerce(TExpr& a, TExpr& b);
  void ConvertTo(TExpr& x, TypeSpec target);
  TExpr AsText(TExpr x);

  TranslateContext& ctx_;
  Plan& plan_;
  const std::vector<ScopeTable>& scope_;
};

std::string ConvCall(const std::string& value, const TypeSpec& t, int flags, int keySlot,
                     const std::string& column, const std::string& table);

}  // namespace standin
