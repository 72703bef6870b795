#pragma once
// What SQL Server knows of a table and SQLite does not keep: declared types, identity, key,
// nullability and defaults. Each database file carries its own catalog in two tables, so a
// data folder keeps its types across restarts.

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "standin/engine/Ast.h"

namespace standin {

struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

struct ColumnDef {
  std::string name;
  TypeSpec type;
  bool nullable = true;
  bool identity = false;
  int keyOrdinal = 0;      // position in the primary key from 1; 0 when not a key column
  std::string defaultSql;  // T-SQL expression, empty for none
};

struct TableDef {
  std::string name;        // as created; local temporary tables keep their "#name"
  std::string storedName;  // the SQLite table
  std::string keyName;     // primary key constraint, empty for none
  std::vector<ColumnDef> columns;
  std::int64_t identityNext = 1, identityStep = 1;
  bool identitySeen = false;                // an explicit value was stored (IDENTITY_INSERT)
  int ownerSpid = 0;                        // session that created a temporary table
  std::int64_t objectId = 0;                // temporary tables' own; 0: derived from the name
  int Find(std::string_view column) const;  // -1 when absent
  int IdentityColumn() const;
  std::vector<int> KeyColumns() const;  // in key order
};

struct Database {
  std::string name;           // as SQL Server reports it
  std::string schema;         // SQLite schema it is attached as
  std::string path;           // empty for tempdb (memory)
  std::uint64_t version = 1;  // bumped by every change of its tables
  std::map<std::string, std::shared_ptr<TableDef>, NoCaseLess> tables;
  std::shared_ptr<TableDef> Find(std::string_view table) const;
};

// Creates the catalog tables when missing and loads them.
void LoadCatalog(sqlite3* db, Database& database);
void StoreTable(sqlite3* db, const Database& database, const TableDef& table);
void ForgetTable(sqlite3* db, const Database& database, const TableDef& table);
void StoreIdentity(sqlite3* db, const Database& database, const TableDef& table);

}  // namespace standin
