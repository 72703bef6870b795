#pragma once
// The row images a transaction's writes replace, so that ROLLBACK (or a session that ends)
// can put every row back. Every session shares the engine's one SQLite connection, so SQLite's
// own transactions and savepoints cannot tell one session's work from another's: the images are
// taken by SQLite's pre-update hook while a statement of a session steps.

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "standin/engine/Catalog.h"

namespace standin {

class EngineCore;

struct ValueFree {
  void operator()(sqlite3_value* v) const { sqlite3_value_free(v); }
};
using ValuePtr = std::unique_ptr<sqlite3_value, ValueFree>;

struct UndoEntry {
  Database* database = nullptr;
  std::shared_ptr<TableDef> table;
  int op = 0;  // SQLITE_INSERT, SQLITE_UPDATE or SQLITE_DELETE
  std::int64_t oldRowid = 0, newRowid = 0;
  // Every column before an UPDATE or DELETE; shared with the row's lock, whose first image is
  // the row as other sessions last saw it committed.
  std::shared_ptr<const std::vector<ValuePtr>> old;
  std::string oldKey, newKey;  // lock keys of the row before and after; empty when none
};

// Where the hook records the writes of the statement that steps now: only rows of its target.
struct UndoTarget {
  Database* database = nullptr;
  std::shared_ptr<TableDef> table;
  std::vector<UndoEntry> entries;
};

// Registers the hook on the engine's connection; throws when this SQLite lacks it.
void InstallUndoHook(EngineCore& core);

// Puts rows back as they were, newest change first. The changes of a table dropped (or dropped
// and created again) since are skipped: table creation and removal are not transactional here.
void ApplyUndo(EngineCore& core, std::vector<UndoEntry>& entries);

// The name row locks use for a table: this definition of it, not its name.
std::string LockTable(const Database& database, const TableDef& table);

// A row's lock key: its primary key's values (`column(i)` gives column i), or its rowid when the
// table has no key. Text keys compare as SQL Server's case-insensitive collation does.
std::string RowKey(const TableDef& table, std::int64_t rowid,
                   const std::function<sqlite3_value*(int)>& column);

}  // namespace standin
