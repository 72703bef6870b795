#include "standin/engine/Parser.h"

#include "standin/engine/ParserCore.h"

namespace standin {

namespace parser_detail {

Statement::Body Parser::StatementBody(bool first) {
  const Token& t = Peek();
  if (t.Is("SELECT")) return Select();
  if (t.Is("INSERT")) return Insert();
  if (t.Is("UPDATE")) return Update();
  if (t.Is("DELETE")) return Delete();
  if (t.Is("CREATE")) return Create();
  if (t.Is("DROP")) return Drop();
  if (t.Is("SET")) return Set();
  if (t.Is("EXEC") || t.Is("EXECUTE")) return Exec();
  if (t.Is("IF")) return If();
  if (t.Is("BEGIN") && (Peek(1).Is("TRAN") || Peek(1).Is("TRANSACTION"))) {
    pos_ += 2;
    if (Peek().kind == Tok::Word && !IsReserved(Peek())) Next();  // a transaction name
    if (Peek().Is("WITH")) throw NotSupported("BEGIN TRANSACTION WITH MARK");
    return BeginTranStmt{};
  }
  if (t.Is("BEGIN")) return Begin();
  if (t.Is("RAISERROR")) return Raiserror();
  if (t.Is("COMMIT") || t.Is("ROLLBACK")) {
    EndTranStmt e;
    e.commit = Next().Is("COMMIT");
    if (Accept("TRAN") || Accept("TRANSACTION") || Accept("WORK")) {
      if (Peek().kind == Tok::Word && !IsReserved(Peek())) Next();  // a transaction name
    }
    return e;
  }
  if (t.Is("USE")) {
    ++pos_;
    UseStmt u;
    u.name = Identifier();
    return u;
  }
  if (InList(t, kUnsupported)) throw NotSupported(Upper(t.value));
  // As in SQL Server, a batch may begin with a procedure name alone.
  if (first && (t.kind == Tok::Word || t.kind == Tok::Quoted) && !IsReserved(t)) {
    ExecStmt e;
    e.procedure = Name();
    ExecArgs(e);
    return e;
  }
  Fail();
}

bool Parser::TableHints() {
  ExpectSymbol("(");
  bool uncommitted = false;
  do {
    const Token& h = Peek();
    if (h.Is("INDEX")) {
      ++pos_;
      if (AcceptSymbol("(")) {
        do Next();
        while (AcceptSymbol(","));
        ExpectSymbol(")");
      } else {
        ExpectSymbol("=");
        Next();
      }
      continue;
    }
    if (!InList(h, kTableHints)) {
      if (h.kind != Tok::Word) Fail();
      auto e = MakeError(321, FormatMessage("\"%s\" is not a recognized table hints option. If it "
                                            "is intended as a parameter to a table-valued "
                                            "function or to the CHANGETABLE function, ensure "
                                            "that your database compatibility mode is set to 90.",
                                            {h.value}));
      e.abortsBatch = true;
      throw e;
    }
    if (h.Is("NOLOCK") || h.Is("READUNCOMMITTED")) uncommitted = true;
    ++pos_;
  } while (AcceptSymbol(","));
  ExpectSymbol(")");
  return uncommitted;
}

TableRef Parser::Table(bool allowHints) {
  TableRef ref;
  ref.name = Name();
  if (!allowHints) return ref;
  // Old-style hints follow the name directly: ConnectLib (readuncommitted).
  if (Peek().IsSymbol("(") && InList(Peek(1), kTableHints)) ref.readUncommitted = TableHints();
  if (Accept("AS")) {
    ref.alias = Identifier();
  } else if (Peek().kind == Tok::Quoted || (Peek().kind == Tok::Word && !IsReserved(Peek()))) {
    ref.alias = Identifier();
  }
  if (Peek().Is("WITH") && Peek(1).IsSymbol("(")) {
    ++pos_;
    ref.readUncommitted |= TableHints();
  } else if (Peek().IsSymbol("(") && InList(Peek(1), kTableHints)) {
    ref.readUncommitted |= TableHints();
  }
  return ref;
}

SelectStmt Parser::Select() {
  Expect("SELECT");
  SelectStmt s;
  if (Accept("DISTINCT"))
    s.distinct = true;
  else
    Accept("ALL");
  if (Accept("TOP")) {
    if (AcceptSymbol("(")) {
      s.top = Expression();
      ExpectSymbol(")");
    } else {
      s.top = Primary();
    }
    if (Peek().Is("PERCENT")) throw NotSupported("TOP PERCENT");
  }
  do {
    SelectItem item;
    const Token& t = Peek();
    if (t.IsSymbol("*")) {
      item.expr = Make(Expr::Kind::Star, Next().begin);
    } else if ((t.kind == Tok::Quoted || (t.kind == Tok::Word && !IsReserved(t))) &&
               Peek(1).IsSymbol("=")) {
      item.alias = Identifier();  // SELECT name = expression
      item.hasAlias = true;
      ++pos_;
      item.expr = Expression();
    } else {
      item.expr = Expression();
      if (Accept("AS")) {
        if (Peek().kind == Tok::String) {
          item.alias = Next().value;
        } else {
          item.alias = Identifier();
        }
        item.hasAlias = true;
      } else if (Peek().kind == Tok::Quoted || Peek().kind == Tok::String ||
                 (Peek().kind == Tok::Word && !IsReserved(Peek()))) {
        item.alias = Peek().kind == Tok::String ? Next().value : Identifier();
        item.hasAlias = true;
      }
    }
    s.items.push_back(std::move(item));
  } while (AcceptSymbol(","));
  if (Peek().Is("INTO")) throw NotSupported("SELECT INTO");
  if (Accept("FROM")) {
    do {
      s.from.push_back(Table(true));
      const Token& j = Peek();
      if (j.Is("JOIN") || j.Is("INNER") || j.Is("LEFT") || j.Is("RIGHT") || j.Is("FULL") ||
          j.Is("CROSS") || j.Is("OUTER"))
        throw NotSupported("JOIN");
    } while (AcceptSymbol(","));
  }
  if (Accept("WHERE")) s.where = Expression();
  if (Accept("GROUP")) {
    Expect("BY");
    do s.groupBy.push_back(Expression());
    while (AcceptSymbol(","));
  }
  if (Accept("HAVING")) s.having = Expression();
  if (Accept("ORDER")) {
    Expect("BY");
    do {
      OrderItem o;
      o.expr = Expression();
      if (Accept("DESC"))
        o.descending = true;
      else
        Accept("ASC");
      s.orderBy.push_back(std::move(o));
    } while (AcceptSymbol(","));
  }
  if (Peek().Is("UNION") || Peek().Is("EXCEPT") || Peek().Is("INTERSECT"))
    throw NotSupported(Upper(Peek().value));
  if (Peek().Is("OPTION") || Peek().Is("FOR")) throw NotSupported(Upper(Peek().value));
  return s;
}

InsertStmt Parser::Insert() {
  Expect("INSERT");
  Accept("INTO");
  InsertStmt s;
  s.table.name = Name();
  if (Peek().Is("WITH") && Peek(1).IsSymbol("(")) {
    ++pos_;
    TableHints();
  }
  if (Peek().IsSymbol("(") && !Peek(1).Is("SELECT")) {
    ++pos_;
    do s.columns.push_back(Identifier());
    while (AcceptSymbol(","));
    ExpectSymbol(")");
  }
  if (Accept("DEFAULT")) {
    Expect("VALUES");
    s.defaultValues = true;
  } else if (Accept("VALUES")) {
    do {
      ExpectSymbol("(");
      std::vector<ExprPtr> row;
      do {
        if (Accept("DEFAULT"))
          row.push_back(nullptr);
        else
          row.push_back(Expression());
      } while (AcceptSymbol(","));
      ExpectSymbol(")");
      s.rows.push_back(std::move(row));
    } while (AcceptSymbol(","));
  } else if (Peek().Is("SELECT") || (Peek().IsSymbol("(") && Peek(1).Is("SELECT"))) {
    bool paren = AcceptSymbol("(");
    s.select = std::make_unique<SelectStmt>(Select());
    if (paren) ExpectSymbol(")");
  } else if (Peek().Is("EXEC") || Peek().Is("EXECUTE")) {
    throw NotSupported("INSERT EXEC");
  } else {
    Fail();
  }
  return s;
}

UpdateStmt Parser::Update() {
  Expect("UPDATE");
  UpdateStmt s;
  if (Peek().Is("TOP")) throw NotSupported("UPDATE TOP");
  s.table = Table(true);
  Expect("SET");
  do {
    auto column = ColumnRef();
    if (column->kind != Expr::Kind::Column) Fail();
    ExpectSymbol("=");
    ExprPtr value;
    if (Accept("DEFAULT"))
      value = nullptr;
    else
      value = Expression();
    s.sets.emplace_back(column->text, std::move(value));
  } while (AcceptSymbol(","));
  if (Peek().Is("FROM")) throw NotSupported("UPDATE FROM");
  if (Accept("WHERE")) s.where = Expression();
  return s;
}

DeleteStmt Parser::Delete() {
  Expect("DELETE");
  DeleteStmt s;
  if (Peek().Is("TOP")) throw NotSupported("DELETE TOP");
  Accept("FROM");
  s.table = Table(true);
  if (Peek().Is("FROM")) throw NotSupported("DELETE FROM ... FROM");
  if (Accept("WHERE")) s.where = Expression();
  return s;
}

Statement::Body Parser::Create() {
  Expect("CREATE");
  if (Peek().Is("TABLE")) return CreateTable();
  if (Accept("DATABASE")) {
    CreateDatabaseStmt s;
    s.name = Identifier();
    if (Peek().Is("ON") || Peek().Is("COLLATE") || Peek().Is("CONTAINMENT"))
      throw NotSupported("CREATE DATABASE " + Upper(Peek().value));
    return s;
  }
  CreateIndexStmt s;
  s.unique = Accept("UNIQUE");
  if (!Accept("CLUSTERED")) Accept("NONCLUSTERED");
  if (!Peek().Is("INDEX")) throw NotSupported("CREATE " + Upper(Peek().value));
  ++pos_;
  s.name = Identifier();
  Expect("ON");
  s.table = Name();
  ExpectSymbol("(");
  do {
    std::string column = Identifier();
    bool desc = Accept("DESC");
    if (!desc) Accept("ASC");
    s.columns.emplace_back(std::move(column), desc);
  } while (AcceptSymbol(","));
  ExpectSymbol(")");
  if (Peek().Is("INCLUDE") || Peek().Is("WHERE")) throw NotSupported(Upper(Peek().value));
  if (Accept("WITH")) {
    ExpectSymbol("(");
    while (!Peek().IsSymbol(")") && Peek().kind != Tok::End) Next();
    ExpectSymbol(")");
  }
  return s;
}

CreateTableStmt Parser::CreateTable() {
  Expect("TABLE");
  CreateTableStmt s;
  s.name = Name();
  ExpectSymbol("(");
  do {
    if (Peek().Is("CONSTRAINT") || Peek().Is("PRIMARY") || Peek().Is("UNIQUE")) {
      if (Accept("CONSTRAINT")) s.constraintName = Identifier();
      if (Accept("UNIQUE")) throw NotSupported("UNIQUE constraint");
      Expect("PRIMARY");
      Expect("KEY");
      if (!Accept("CLUSTERED")) Accept("NONCLUSTERED");
      if (!s.primaryKey.empty()) Fail();
      ExpectSymbol("(");
      do {
        s.primaryKey.push_back(Identifier());
        if (!Accept("ASC")) Accept("DESC");
      } while (AcceptSymbol(","));
      ExpectSymbol(")");
      continue;
    }
    ColumnDecl c;
    c.name = Identifier();
    c.type = Type();
    bool sawNull = false;
    while (true) {
      if (Accept("NULL")) {
        c.nullable = true;
        sawNull = true;
      } else if (Peek().Is("NOT") && Peek(1).Is("NULL")) {
        pos_ += 2;
        c.nullable = false;
        sawNull = true;
      } else if (Accept("IDENTITY")) {
        c.identity = true;
        if (AcceptSymbol("(")) {
          auto seed = Expression();
          ExpectSymbol(",");
          auto step = Expression();
          ExpectSymbol(")");
          if (seed->kind != Expr::Kind::Integer || step->kind != Expr::Kind::Integer) Fail();
          c.seed = seed->integer;
          c.increment = step->integer;
        }
      } else if (Peek().Is("CONSTRAINT") && (Peek(2).Is("PRIMARY") || Peek(2).Is("DEFAULT"))) {
        pos_ += 1;
        std::string name = Identifier();
        if (Peek().Is("PRIMARY")) s.constraintName = name;
      } else if (Accept("PRIMARY")) {
        Expect("KEY");
        if (!Accept("CLUSTERED")) Accept("NONCLUSTERED");
        c.primaryKey = true;
      } else if (Accept("DEFAULT")) {
        std::size_t from = Peek().begin;
        Primary();  // a literal, a function call or a parenthesised expression
        c.defaultSql = std::string(sql_.substr(from, tokens_[pos_ - 1].end - from));
      } else if (Peek().Is("UNIQUE") || Peek().Is("CHECK") || Peek().Is("REFERENCES") ||
                 Peek().Is("FOREIGN") || Peek().Is("COLLATE")) {
        throw NotSupported(Upper(Peek().value));
      } else {
        break;
      }
    }
    // Identity and key columns never hold NULL.
    if (c.identity || c.primaryKey) c.nullable = sawNull ? c.nullable : false;
    if (c.primaryKey) {
      if (!s.primaryKey.empty()) Fail();
      s.primaryKey.push_back(c.name);
    }
    s.columns.push_back(std::move(c));
  } while (AcceptSymbol(","));
  ExpectSymbol(")");
  if (Peek().Is("ON") || Peek().Is("WITH") || Peek().Is("TEXTIMAGE_ON"))
    throw NotSupported("CREATE TABLE " + Upper(Peek().value));
  return s;
}

DropTableStmt Parser::Drop() {
  Expect("DROP");
  if (!Peek().Is("TABLE")) throw NotSupported("DROP " + Upper(Peek().value));
  ++pos_;
  DropTableStmt s;
  if (Peek().Is("IF") && Peek(1).Is("EXISTS")) {
    pos_ += 2;
    s.ifExists = true;
  }
  do s.names.push_back(Name());
  while (AcceptSymbol(","));
  return s;
}

SetStmt Parser::Set() {
  Expect("SET");
  SetStmt s;
  const Token& t = Peek();
  if (t.kind != Tok::Word) Fail();
  s.options.push_back(Upper(t.value));
  ++pos_;
  if (s.options[0] == "TRANSACTION") {
    Expect("ISOLATION");
    Expect("LEVEL");
    s.options[0] = "TRANSACTION ISOLATION LEVEL";
    while (Peek().kind == Tok::Word && !IsReserved(Peek())) {
      if (!s.value.empty()) s.value += ' ';
      s.value += Upper(Next().value);
    }
    return s;
  }
  if (s.options[0] == "IDENTITY_INSERT") {
    s.objects.push_back(Name());
    const Token& v = Next();
    if (!(v.Is("ON") || v.Is("OFF"))) Fail();
    s.value = Upper(v.value);
    return s;
  }
  // Options take one value, or share one: SET ANSI_NULLS, ANSI_PADDING ON.
  while (AcceptSymbol(",")) {
    const Token& n = Next();
    if (n.kind != Tok::Word) Fail();
    s.options.push_back(Upper(n.value));
  }
  const Token& v = Peek();
  if (v.kind == Tok::Word || v.kind == Tok::Number || v.kind == Tok::String ||
      v.kind == Tok::NString || v.kind == Tok::Quoted) {
    s.value = v.kind == Tok::Word ? Upper(v.value) : v.value;
    ++pos_;
  } else if (v.IsSymbol("-") && Peek(1).kind == Tok::Number) {
    s.value = "-" + Peek(1).value;
    pos_ += 2;
  } else {
    Fail();
  }
  return s;
}

IfStmt Parser::If() {
  DepthGuard guard(*this);  // IF nests statements within statements
  Expect("IF");
  IfStmt s;
  s.condition = Expression();
  s.then = std::make_unique<Statement>(Nested());
  AcceptSymbol(";");
  if (Accept("ELSE")) s.otherwise = std::make_unique<Statement>(Nested());
  return s;
}

void Parser::ExecArgs(ExecStmt& e) {
  if (Peek().kind == Tok::End || Peek().IsSymbol(";")) return;
  if (IsReserved(Peek())) return;
  do {
    std::string name;
    if (Peek().kind == Tok::Variable && Peek(1).IsSymbol("=")) {
      name = Next().value;
      ++pos_;
    }
    e.args.emplace_back(std::move(name), Primary());
    if (Peek().Is("OUTPUT") || Peek().Is("OUT")) throw NotSupported("OUTPUT");
  } while (AcceptSymbol(","));
}

ExecStmt Parser::Exec() {
  Next();
  if (Peek().IsSymbol("(")) throw NotSupported("EXEC of a string");
  if (Peek().kind == Tok::Variable) throw NotSupported("EXEC @variable");
  ExecStmt e;
  e.procedure = Name();
  ExecArgs(e);
  return e;
}

}  // namespace parser_detail

std::vector<Statement> ParseBatch(std::string_view sql, bool quotedIdentifier, std::size_t* slots) {
  parser_detail::Parser p(sql, quotedIdentifier);
  auto statements = p.Batch();
  if (slots) *slots = p.Slots();
  return statements;
}

ExprPtr ParseExpression(std::string_view sql) {
  parser_detail::Parser p(sql, true);
  return p.SingleExpression();
}

ObjectName ParseObjectName(std::string_view text) {
  parser_detail::Parser p(text, true);
  return p.SingleName();
}

TypeSpec ParseTypeName(std::string_view text) {
  parser_detail::Parser p(text, true);
  return p.SingleType();
}

}  // namespace standin
