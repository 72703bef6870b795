#pragma once
// The parsed form of the T-SQL subset the stand-in runs. Parsing depends only on the text
// (and QUOTED_IDENTIFIER), so a parsed batch is cached by its text and shared by sessions.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "standin/Engine.h"

namespace standin {

struct TypeSpec {
  SqlType type = SqlType::Int;
  int length = 0;  // characters; -1 for (MAX)
  int precision = 0, scale = 0;
};

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
  enum class Kind {
    Null,
    Integer,
    Float,
    Decimal,
    String,
    Variable,
    Global,
    Column,
    Star,
    Negate,
    BitNot,
    Binary,
    Compare,
    And,
    Or,
    Not,
    IsNull,
    Like,
    In,
    Between,
    Function,
    Cast,
  } kind = Kind::Null;
  std::string text;  // literal text, variable or function name, column name, operator
  std::vector<std::string> qualifier;  // for a column or star: table (or alias) parts
  std::int64_t integer = 0;
  bool national = false;  // N'...'
  bool negated = false;   // IS NOT NULL, NOT LIKE, NOT IN, NOT BETWEEN
  bool distinct = false;  // COUNT(DISTINCT x)
  bool star = false;      // COUNT(*)
  TypeSpec castType;
  std::vector<ExprPtr> args;
  std::size_t pos = 0;  // source offset, for messages
};

struct ObjectName {
  std::vector<std::string> parts;  // one to three parts, database first; empty parts allowed (a..t)
  std::string written;             // as SQL Server prints it in messages: parts joined by "."
  const std::string& Name() const { return parts.back(); }
};

struct TableRef {
  ObjectName name;
  std::string alias;
  bool readUncommitted = false;  // (NOLOCK) or (READUNCOMMITTED): read without waiting on rows
};

struct SelectItem {
  ExprPtr expr;
  std::string alias;
  bool hasAlias = false;
};

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct SelectStmt {
  bool distinct = false;
  ExprPtr top;
  std::vector<SelectItem> items;
  std::vector<TableRef> from;  // empty: SELECT without FROM
  ExprPtr where;
  std::vector<ExprPtr> groupBy;
  ExprPtr having;
  std::vector<OrderItem> orderBy;
};

struct InsertStmt {
  TableRef table;
  std::vector<std::string> columns;
  std::vector<std::vector<ExprPtr>> rows;  // VALUES; a DEFAULT entry is a null pointer
  std::unique_ptr<SelectStmt> select;      // INSERT ... SELECT
  bool defaultValues = false;
};

struct UpdateStmt {
  TableRef table;
  std::vector<std::pair<std::string, ExprPtr>> sets;
  ExprPtr where;
};

struct DeleteStmt {
  TableRef table;
  ExprPtr where;
};

struct ColumnDecl {
  std::string name;
  TypeSpec type;
  bool nullable = true;
  bool identity = false;
  std::int64_t seed = 1, increment = 1;
  bool primaryKey = false;
  bool unique = false;
  std::string defaultSql;  // the DEFAULT expression as written, parsed again at each insert
};

struct CreateTableStmt {
  ObjectName name;
  std::vector<ColumnDecl> columns;
  std::vector<std::string> primaryKey;  // in key order
  std::string constraintName;
};

struct DropTableStmt {
  std::vector<ObjectName> names;
  bool ifExists = false;
};

struct CreateIndexStmt {
  std::string name;
  bool unique = false;
  ObjectName table;
  std::vector<std::pair<std::string, bool>> columns;  // name, descending
};

struct CreateDatabaseStmt {
  std::string name;
};

struct UseStmt {
  std::string name;
};

struct SetStmt {
  std::vector<std::string> options;  // upper case: ANSI_NULLS, "TRANSACTION ISOLATION LEVEL"
  std::string value;                 // ON, OFF, a number, a word (upper case) or a text
  std::vector<ObjectName> objects;   // IDENTITY_INSERT's table
};

struct ExecStmt {
  ObjectName procedure;
  std::vector<std::pair<std::string, ExprPtr>> args;  // name may be empty (positional)
};

struct Statement;

// IF condition statement [ELSE statement]
struct IfStmt {
  ExprPtr condition;
  std::unique_ptr<Statement> then, otherwise;
};

struct BeginTranStmt {};

// COMMIT or ROLLBACK [TRAN[SACTION] | WORK] [name]
struct EndTranStmt {
  bool commit = true;
};

// BEGIN statements END
struct BlockStmt {
  std::vector<Statement> statements;
};

// BEGIN TRY statements END TRY BEGIN CATCH statements END CATCH
struct TryCatchStmt {
  std::vector<Statement> tryBody, catchBody;
};

// RAISERROR(message, severity, state) [WITH NOWAIT]: the message is a literal text.
struct RaiserrorStmt {
  std::string message;
  int severity = 16;
  int state = 1;
};

struct Statement {
  using Body =
      std::variant<SelectStmt, InsertStmt, UpdateStmt, DeleteStmt, CreateTableStmt, DropTableStmt,
                   CreateIndexStmt, CreateDatabaseStmt, UseStmt, SetStmt, ExecStmt, IfStmt,
                   BeginTranStmt, EndTranStmt, BlockStmt, TryCatchStmt, RaiserrorStmt>;
  Body body;
  std::size_t begin = 0, end = 0;  // offsets in the batch text
  int line = 1;                    // line of the statement's first token, from 1
  // Where the batch keeps this statement's plan: statements are numbered in the order they
  // were read, nested ones included.
  std::size_t slot = 0;
};

}  // namespace standin
