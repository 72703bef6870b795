#pragma once
// Owners for SQLite handles and the few calls the engine makes outside prepared plans.

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "standin/engine/SqlError.h"

namespace standin {

struct StmtDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

struct DbDeleter {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbDeleter>;

// Prepares `sql`; throws SqlError carrying SQLite's message when it cannot.
StmtPtr Prepare(sqlite3* db, std::string_view sql);

// Runs statements that return no rows; throws SqlError on failure.
void ExecSql(sqlite3* db, std::string_view sql);

// "name" with embedded double quotes doubled: a safe SQLite identifier.
std::string QuoteId(std::string_view name);

// 'text' with embedded single quotes doubled: a safe SQLite literal.
std::string QuoteText(std::string_view text);

// An error that SQLite reported and that has no SQL Server counterpart.
SqlError StorageError(sqlite3* db);

}  // namespace standin
