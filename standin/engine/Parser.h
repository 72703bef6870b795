#pragma once
// Recursive-descent parser for the T-SQL subset. A whole batch is parsed before any of it
// runs, as SQL Server compiles a batch first: a syntax error anywhere runs nothing.

#include <string_view>
#include <vector>

#include "standin/engine/Ast.h"
#include "standin/engine/Lexer.h"

namespace standin {

// Throws SqlError (102, 103, 105, 40517 ...) on text outside the subset. `slots`, when given,
// receives how many statements were read, nested ones included (Statement::slot's range).
std::vector<Statement> ParseBatch(std::string_view sql, bool quotedIdentifier,
                                  std::size_t* slots = nullptr);

// Parses one expression (a column's DEFAULT as stored in the catalog).
ExprPtr ParseExpression(std::string_view sql);

// Parses a possibly qualified object name such as "tempdb..[##X]" (OBJECT_ID's argument).
ObjectName ParseObjectName(std::string_view text);

// Parses a type name such as "varchar(30)" or "int".
TypeSpec ParseTypeName(std::string_view text);

}  // namespace standin
