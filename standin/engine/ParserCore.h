#pragma once
// The parser's machinery: tokens in, expressions and types out. Only the parser's own sources
// include this; statements are parsed in Parser.cpp.

#include <algorithm>
#include <cstdlib>
#include <span>

#include "standin/engine/Ast.h"
#include "standin/engine/Lexer.h"
#include "standin/engine/SqlError.h"

namespace standin {

namespace parser_detail {

// Words that end an expression or a name list and can never be an unquoted alias.
inline constexpr std::string_view kReserved[] = {
    "ADD",        "ALL",       "ALTER",      "AND",      "ANY",     "AS",        "ASC",
    "BEGIN",      "BETWEEN",   "BY",         "CASE",     "CHECK",   "CLUSTERED", "COMMIT",
    "CONSTRAINT", "CREATE",    "CROSS",      "DECLARE",  "DEFAULT", "DELETE",    "DESC",
    "DISTINCT",   "DROP",      "ELSE",       "END",      "EXCEPT",  "EXEC",      "EXECUTE",
    "EXISTS",     "FOR",       "FOREIGN",    "FROM",     "FULL",    "GO",        "GOTO",
    "GRANT",      "GROUP",     "HAVING",     "IDENTITY", "IF",      "IN",        "INDEX",
    "INNER",      "INSERT",    "INTERSECT",  "INTO",     "IS",      "JOIN",      "KEY",
    "LEFT",       "LIKE",      "MERGE",      "NOT",      "NULL",    "OF",        "ON",
    "OPTION",     "OR",        "ORDER",      "OUTER",    "PRIMARY", "PRINT",     "PROC",
    "PROCEDURE",  "RAISERROR", "REFERENCES", "RETURN",   "REVOKE",  "RIGHT",     "ROLLBACK",
    "SELECT",     "SET",       "TABLE",      "THEN",     "TOP",     "TRAN",      "TRANSACTION",
    "TRUNCATE",   "UNION",     "UNIQUE",     "UPDATE",   "USE",     "VALUES",    "WHEN",
    "WHERE",      "WHILE",     "WITH",       "ALTER",    "WAITFOR", "SAVE",      "DBCC",
};

// Statements SQL Server has and the stand-in does not run.
inline constexpr std::string_view kUnsupported[] = {
    "ALTER",    "TRUNCATE",    "MERGE",     "DECLARE",    "WHILE",      "PRINT",
    "BEGIN",    "SAVE",        "GRANT",     "REVOKE",     "DENY",       "RAISERROR",
    "THROW",    "RETURN",      "WITH",      "BACKUP",     "RESTORE",    "DBCC",
    "WAITFOR",  "GOTO",        "OPEN",      "CLOSE",      "FETCH",      "DEALLOCATE",
    "BULK",     "READTEXT",    "WRITETEXT", "UPDATETEXT", "CHECKPOINT", "KILL",
    "SHUTDOWN", "RECONFIGURE", "DISABLE",   "ENABLE",     "BREAK",      "CONTINUE",
};

inline constexpr std::string_view kTableHints[] = {
    "NOLOCK",   "READUNCOMMITTED", "READCOMMITTED", "REPEATABLEREAD", "SERIALIZABLE",
    "HOLDLOCK", "UPDLOCK",         "ROWLOCK",       "PAGLOCK",        "TABLOCK",
    "TABLOCKX", "XLOCK",           "NOWAIT",        "READPAST",       "READCOMMITTEDLOCK",
    "NOEXPAND", "FORCESEEK",       "FORCESCAN",
};

inline bool InList(const Token& t, std::span<const std::string_view> list) {
  if (t.kind != Tok::Word) return false;
  return std::any_of(list.begin(), list.end(), [&](std::string_view k) { return t.Is(k); });
}

inline std::string Upper(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

inline void CheckIdentifierLength(const std::string& name) {
  // SQL Server counts characters; count UTF-8 lead bytes.
  std::size_t chars = 0, cut = name.size();
  for (std::size_t i = 0; i < name.size(); ++i) {
    if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80) {
      if (chars == 128) cut = i;
      ++chars;
    }
  }
  if (chars > 128) {
    auto e = MakeError(
        103,
        FormatMessage("The identifier that starts with '%s' is too long. Maximum length is 128.",
                      {std::string_view(name).substr(0, cut)}),
        4, 15);
    e.abortsBatch = true;
    throw e;
  }
}

class Parser {
 public:
  Parser(std::string_view sql, bool quotedIdentifier)
      : sql_(sql), tokens_(Tokenize(sql, quotedIdentifier)) {}

  std::vector<Statement> Batch() {
    std::vector<Statement> out;
    try {
      while (true) {
        while (Peek().IsSymbol(";")) ++pos_;
        if (Peek().kind == Tok::End) break;
        out.push_back(One(out.empty()));
      }
    } catch (SqlError& e) {
      // SQL Server reports a compile error at the line where it stopped reading.
      std::size_t at = std::min(pos_, tokens_.size() - 1);
      e.message.line =
          1 + static_cast<int>(std::count(sql_.begin(), sql_.begin() + tokens_[at].begin, '\n'));
      throw;
    }
    return out;
  }

  // How many statements the batch read, nested ones included: the plan slots it needs.
  std::size_t Slots() const { return slots_; }

  ExprPtr SingleExpression() {
    auto e = Expression();
    if (Peek().kind != Tok::End) Fail();
    return e;
  }

  ObjectName SingleName() {
    auto n = Name();
    if (Peek().kind != Tok::End) Fail();
    return n;
  }

  TypeSpec SingleType() {
    auto t = Type();
    if (Peek().kind != Tok::End) Fail();
    return t;
  }

 protected:
  const Token& Peek(std::size_t ahead = 0) const {
    return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
  }
  const Token& Next() {
    const Token& t = Peek();
    if (t.kind != Tok::End) ++pos_;
    return t;
  }
  bool Accept(std::string_view keyword) {
    if (Peek().Is(keyword)) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool AcceptSymbol(std::string_view s) {
    if (Peek().IsSymbol(s)) {
      ++pos_;
      return true;
    }
    return false;
  }
  [[noreturn]] void Fail() const {
    // SQL Server names the token it stopped at, or the last one when the text ended early.
    const Token& t = Peek().kind == Tok::End && pos_ > 0 ? tokens_[pos_ - 1] : Peek();
    if (t.kind == Tok::End) throw SyntaxError("");
    std::string_view raw = sql_.substr(t.begin, t.end - t.begin);
    if (t.kind == Tok::String || t.kind == Tok::NString) throw SyntaxError(t.value);
    if (t.kind == Tok::Quoted) throw SyntaxError(t.value);
    throw SyntaxError(raw);
  }
  void Expect(std::string_view keyword) {
    if (!Accept(keyword)) Fail();
  }
  void ExpectSymbol(std::string_view s) {
    if (!AcceptSymbol(s)) Fail();
  }
  bool IsReserved(const Token& t) const { return InList(t, kReserved); }

  std::string Identifier() {
    const Token& t = Peek();
    if (t.kind == Tok::Quoted || (t.kind == Tok::Word && !IsReserved(t))) {
      ++pos_;
      CheckIdentifierLength(t.value);
      return t.value;
    }
    Fail();
  }

  ObjectName Name() {
    ObjectName n;
    n.parts.push_back(Identifier());
    while (Peek().IsSymbol(".")) {
      ++pos_;
      if (Peek().IsSymbol(".")) {
        n.parts.emplace_back();  // db..table
        continue;
      }
      n.parts.push_back(Identifier());
    }
    if (n.parts.size() > 3) throw NotSupported("linked server name");
    for (std::size_t i = 0; i < n.parts.size(); ++i) {
      if (i) n.written += '.';
      n.written += n.parts[i];
    }
    if (n.parts.back().empty()) Fail();
    return n;
  }

  Statement::Body StatementBody(bool first);

  // ---- expressions
  ExprPtr Make(Expr::Kind kind, std::size_t pos) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->pos = pos;
    return e;
  }

  // Expressions nest (parentheses, NOT, unary minus) and chain (a AND b AND ...); both grow
  // the trees that translation walks recursively, so hostile text could exhaust the stack.
  static constexpr int kMaxDepth = 500;
  void Deeper(int by = 1) {
    depth_ += by;
    if (depth_ > kMaxDepth) {
      auto e = MakeError(191,
                         "Some part of your SQL statement is nested too deeply. Rewrite the "
                         "query or break it up into smaller queries.",
                         1, 15);
      e.abortsBatch = true;
      throw e;
    }
  }
  struct DepthGuard {
    explicit DepthGuard(Parser& p) : parser(p), saved(p.depth_) { p.Deeper(); }
    ~DepthGuard() { parser.depth_ = saved; }
    Parser& parser;
    int saved;
  };

  ExprPtr Expression() {
    DepthGuard guard(*this);
    return OrExpr();
  }

  ExprPtr OrExpr() {
    auto left = AndExpr();
    while (Peek().Is("OR")) {
      Deeper();
      auto e = Make(Expr::Kind::Or, Next().begin);
      e->args.push_back(std::move(left));
      e->args.push_back(AndExpr());
      left = std::move(e);
    }
    return left;
  }

  ExprPtr AndExpr() {
    auto left = NotExpr();
    while (Peek().Is("AND")) {
      Deeper();
      auto e = Make(Expr::Kind::And, Next().begin);
      e->args.push_back(std::move(left));
      e->args.push_back(NotExpr());
      left = std::move(e);
    }
    return left;
  }

  ExprPtr NotExpr() {
    if (Peek().Is("NOT")) {
      DepthGuard guard(*this);
      auto e = Make(Expr::Kind::Not, Next().begin);
      e->args.push_back(NotExpr());
      return e;
    }
    return Predicate();
  }

  ExprPtr Predicate() {
    auto left = Additive();
    const Token& t = Peek();
    static constexpr std::string_view kCompare[] = {"=",  "<>", "!=", "<", ">",
                                                    "<=", ">=", "!<", "!>"};
    if (t.kind == Tok::Symbol &&
        std::find(std::begin(kCompare), std::end(kCompare), t.value) != std::end(kCompare)) {
      auto e = Make(Expr::Kind::Compare, t.begin);
      e->text = t.value;
      if (e->text == "!=") e->text = "<>";
      if (e->text == "!<") e->text = ">=";
      if (e->text == "!>") e->text = "<=";
      ++pos_;
      e->args.push_back(std::move(left));
      e->args.push_back(Additive());
      return e;
    }
    if (t.Is("IS")) {
      auto e = Make(Expr::Kind::IsNull, Next().begin);
      e->negated = Accept("NOT");
      Expect("NULL");
      e->args.push_back(std::move(left));
      return e;
    }
    bool negated = false;
    if (t.Is("NOT") && (Peek(1).Is("LIKE") || Peek(1).Is("IN") || Peek(1).Is("BETWEEN"))) {
      negated = true;
      ++pos_;
    }
    if (Peek().Is("LIKE")) {
      auto e = Make(Expr::Kind::Like, Next().begin);
      e->negated = negated;
      e->args.push_back(std::move(left));
      e->args.push_back(Additive());
      if (Accept("ESCAPE")) e->args.push_back(Additive());
      return e;
    }
    if (Peek().Is("IN")) {
      auto e = Make(Expr::Kind::In, Next().begin);
      e->negated = negated;
      e->args.push_back(std::move(left));
      ExpectSymbol("(");
      if (Peek().Is("SELECT")) throw NotSupported("subquery");
      do {
        e->args.push_back(Expression());
      } while (AcceptSymbol(","));
      ExpectSymbol(")");
      return e;
    }
    if (Peek().Is("BETWEEN")) {
      auto e = Make(Expr::Kind::Between, Next().begin);
      e->negated = negated;
      e->args.push_back(std::move(left));
      e->args.push_back(Additive());
      Expect("AND");
      e->args.push_back(Additive());
      return e;
    }
    if (negated) Fail();
    return left;
  }

  ExprPtr Additive() {
    auto left = Multiplicative();
    while (true) {
      const Token& t = Peek();
      if (!(t.IsSymbol("+") || t.IsSymbol("-") || t.IsSymbol("&") || t.IsSymbol("|") ||
            t.IsSymbol("^")))
        return left;
      Deeper();
      auto e = Make(Expr::Kind::Binary, t.begin);
      e->text = t.value;
      ++pos_;
      e->args.push_back(std::move(left));
      e->args.push_back(Multiplicative());
      left = std::move(e);
    }
  }

  ExprPtr Multiplicative() {
    auto left = Unary();
    while (true) {
      const Token& t = Peek();
      if (!(t.IsSymbol("*") || t.IsSymbol("/") || t.IsSymbol("%"))) return left;
      Deeper();
      auto e = Make(Expr::Kind::Binary, t.begin);
      e->text = t.value;
      ++pos_;
      e->args.push_back(std::move(left));
      e->args.push_back(Unary());
      left = std::move(e);
    }
  }

  ExprPtr Unary() {
    const Token& t = Peek();
    if (t.IsSymbol("-")) {
      DepthGuard guard(*this);
      std::size_t at = Next().begin;
      auto inner = Unary();
      // Fold "-5" so that the smallest bigint can be written.
      if (inner->kind == Expr::Kind::Integer || inner->kind == Expr::Kind::Decimal ||
          inner->kind == Expr::Kind::Float) {
        if (inner->text.starts_with('-'))
          inner->text.erase(0, 1);
        else
          inner->text.insert(0, "-");
        inner->integer = -inner->integer;
        return inner;
      }
      auto e = Make(Expr::Kind::Negate, at);
      e->args.push_back(std::move(inner));
      return e;
    }
    if (t.IsSymbol("+")) {
      DepthGuard guard(*this);
      ++pos_;
      return Unary();
    }
    if (t.IsSymbol("~")) {
      DepthGuard guard(*this);
      auto e = Make(Expr::Kind::BitNot, Next().begin);
      e->args.push_back(Unary());
      return e;
    }
    return Primary();
  }

  ExprPtr Number(const Token& t) {
    auto& v = t.value;
    if (v.find_first_of("eE") != std::string::npos) {
      auto e = Make(Expr::Kind::Float, t.begin);
      e->text = v;
      return e;
    }
    if (v.find('.') != std::string::npos) {
      auto e = Make(Expr::Kind::Decimal, t.begin);
      e->text = v;
      return e;
    }
    // Integers beyond bigint are decimals in SQL Server.
    std::string digits = v;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    if (digits.size() > 19 || (digits.size() == 19 && digits > "9223372036854775807")) {
      auto e = Make(Expr::Kind::Decimal, t.begin);
      e->text = digits;
      return e;
    }
    auto e = Make(Expr::Kind::Integer, t.begin);
    e->text = digits;
    e->integer = std::strtoll(digits.c_str(), nullptr, 10);
    return e;
  }

  ExprPtr Primary() {
    const Token& t = Peek();
    switch (t.kind) {
      case Tok::Number:
        ++pos_;
        return Number(t);
      case Tok::String:
      case Tok::NString: {
        ++pos_;
        auto e = Make(Expr::Kind::String, t.begin);
        e->text = t.value;
        e->national = t.kind == Tok::NString;
        return e;
      }
      case Tok::Variable: {
        ++pos_;
        auto e = Make(Expr::Kind::Variable, t.begin);
        e->text = t.value;
        return e;
      }
      case Tok::Global: {
        ++pos_;
        auto e = Make(Expr::Kind::Global, t.begin);
        e->text = Upper(t.value);
        return e;
      }
      case Tok::Symbol:
        if (t.IsSymbol("(")) {
          ++pos_;
          if (Peek().Is("SELECT")) throw NotSupported("subquery");
          auto e = Expression();
          ExpectSymbol(")");
          return e;
        }
        Fail();
      case Tok::Word:
        if (t.Is("NULL")) {
          ++pos_;
          return Make(Expr::Kind::Null, t.begin);
        }
        if (t.Is("CASE")) throw NotSupported("CASE");
        if (t.Is("EXISTS")) throw NotSupported("EXISTS");
        if (Peek(1).IsSymbol("(") && (!IsReserved(t) || t.Is("LEFT") || t.Is("RIGHT")))
          return Function();
        [[fallthrough]];
      case Tok::Quoted:
        return ColumnRef();
      case Tok::End:
        Fail();
    }
    Fail();
  }

  ExprPtr Function() {
    const Token& name = Next();
    auto e = Make(Expr::Kind::Function, name.begin);
    e->text = Upper(name.value);
    ExpectSymbol("(");
    if (e->text == "CAST") {
      e->kind = Expr::Kind::Cast;
      e->args.push_back(Expression());
      Expect("AS");
      e->castType = Type();
      ExpectSymbol(")");
      return e;
    }
    if (e->text == "CONVERT") {
      e->kind = Expr::Kind::Cast;
      e->castType = Type();
      ExpectSymbol(",");
      e->args.push_back(Expression());
      if (AcceptSymbol(",")) Expression();  // style: the stand-in has one text form per type
      ExpectSymbol(")");
      return e;
    }
    if (AcceptSymbol(")")) return e;
    if (Peek().IsSymbol("*")) {
      ++pos_;
      e->star = true;
      ExpectSymbol(")");
      return e;
    }
    if (Accept("DISTINCT"))
      e->distinct = true;
    else
      Accept("ALL");
    do {
      e->args.push_back(Expression());
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    return e;
  }

  ExprPtr ColumnRef() {
    auto e = Make(Expr::Kind::Column, Peek().begin);
    std::vector<std::string> parts;
    parts.push_back(Identifier());
    while (Peek().IsSymbol(".")) {
      ++pos_;
      if (Peek().IsSymbol("*")) {
        ++pos_;
        e->kind = Expr::Kind::Star;
        e->qualifier = std::move(parts);
        return e;
      }
      parts.push_back(Identifier());
    }
    if (parts.size() > 4) Fail();
    e->text = parts.back();
    parts.pop_back();
    e->qualifier = std::move(parts);
    return e;
  }

  // ---- types (ParserTypes.cpp)
  int TypeLength(bool allowMax);
  TypeSpec Type();

  // ---- statements
  SelectStmt Select();
  // True when the hints let the table be read without shared locks (NOLOCK, READUNCOMMITTED).
  bool TableHints();
  TableRef Table(bool allowHints);
  InsertStmt Insert();
  UpdateStmt Update();
  DeleteStmt Delete();
  Statement::Body Create();
  CreateTableStmt CreateTable();
  DropTableStmt Drop();
  SetStmt Set();
  ExecStmt Exec();
  IfStmt If();
  Statement Nested() { return One(false); }
  // One statement with its place in the text; `first` as for StatementBody.
  Statement One(bool first) {
    Statement s;
    s.begin = Peek().begin;
    s.line = 1 + static_cast<int>(std::count(sql_.begin(), sql_.begin() + s.begin, '\n'));
    s.slot = slots_++;
    s.body = StatementBody(first);
    s.end = tokens_[pos_ - 1].end;
    return s;
  }
  void ExecArgs(ExecStmt& e);

  // ---- blocks (ParserBlocks.cpp)
  // After BEGIN: BEGIN TRY ... END CATCH, BEGIN ... END, or a BEGIN the stand-in lacks.
  Statement::Body Begin();
  // Statements up to END [closing]; the END and `closing` are consumed.
  std::vector<Statement> StatementsUntil(std::string_view closing);
  RaiserrorStmt Raiserror();
  int SmallInteger();

  std::string_view sql_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  std::size_t slots_ = 0;
};

}  // namespace parser_detail

}  // namespace standin
