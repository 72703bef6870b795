#include "standin/engine/Catalog.h"

#include "standin/engine/Convert.h"
#include "standin/engine/Parser.h"
#include "standin/engine/Sqlite.h"

namespace standin {

namespace {

char Fold(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

std::string Col(const sqlite3_stmt* s, int i) {
  auto* p = sqlite3_column_text(const_cast<sqlite3_stmt*>(s), i);
  return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
}

void BindText(sqlite3_stmt* s, int i, std::string_view v) {
  sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

void Step(sqlite3* db, sqlite3_stmt* s) {
  if (sqlite3_step(s) != SQLITE_DONE) throw StorageError(db);
}

}  // namespace

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    char x = Fold(a[i]), y = Fold(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  return a.size() < b.size();
}

int TableDef::Find(std::string_view column) const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (EqualsNoCaseAscii(columns[i].name, column)) return static_cast<int>(i);
  return -1;
}

int TableDef::IdentityColumn() const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (columns[i].identity) return static_cast<int>(i);
  return -1;
}

std::vector<int> TableDef::KeyColumns() const {
  std::vector<int> key;
  for (int ordinal = 1;; ++ordinal) {
    int found = -1;
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (columns[i].keyOrdinal == ordinal) found = static_cast<int>(i);
    if (found < 0) return key;
    key.push_back(found);
  }
}

std::shared_ptr<TableDef> Database::Find(std::string_view table) const {
  auto it = tables.find(table);
  return it == tables.end() ? nullptr : it->second;
}

void LoadCatalog(sqlite3* db, Database& database) {
  const std::string s = QuoteId(database.schema);
  ExecSql(db, "CREATE TABLE IF NOT EXISTS " + s +
                  ".__standin_tables(name TEXT, stored TEXT PRIMARY KEY, key_name TEXT, "
                  "identity_next INTEGER, identity_step INTEGER);"
                  "CREATE TABLE IF NOT EXISTS " +
                  s +
                  ".__standin_columns(tbl TEXT, ordinal INTEGER, name TEXT, type TEXT, "
                  "nullable INTEGER, is_identity INTEGER, key_ordinal INTEGER, default_sql TEXT, "
                  "PRIMARY KEY(tbl, ordinal));");
  database.tables.clear();
  auto tables = Prepare(db, "SELECT name, stored, key_name, identity_next, identity_step FROM " +
                                s + ".__standin_tables");
  while (sqlite3_step(tables.get()) == SQLITE_ROW) {
    auto t = std::make_shared<TableDef>();
    t->name = Col(tables.get(), 0);
    t->storedName = Col(tables.get(), 1);
    t->keyName = Col(tables.get(), 2);
    t->identityNext = sqlite3_column_int64(tables.get(), 3);
    t->identityStep = sqlite3_column_int64(tables.get(), 4);
    database.tables[t->storedName] = t;
  }
  auto columns = Prepare(db,
                         "SELECT tbl, name, type, nullable, is_identity, key_ordinal, "
                         "default_sql FROM " +
                             s + ".__standin_columns ORDER BY tbl, ordinal");
  while (sqlite3_step(columns.get()) == SQLITE_ROW) {
    auto t = database.Find(Col(columns.get(), 0));
    if (!t) continue;
    ColumnDef c;
    c.name = Col(columns.get(), 1);
    c.type = ParseTypeName(Col(columns.get(), 2));
    c.nullable = sqlite3_column_int(columns.get(), 3) != 0;
    c.identity = sqlite3_column_int(columns.get(), 4) != 0;
    c.keyOrdinal = sqlite3_column_int(columns.get(), 5);
    c.defaultSql = Col(columns.get(), 6);
    t->columns.push_back(std::move(c));
  }
}

void StoreTable(sqlite3* db, const Database& database, const TableDef& table) {
  const std::string s = QuoteId(database.schema);
  auto t = Prepare(db, "INSERT INTO " + s +
                           ".__standin_tables(name, stored, key_name, identity_next, "
                           "identity_step) VALUES (?, ?, ?, ?, ?)");
  BindText(t.get(), 1, table.name);
  BindText(t.get(), 2, table.storedName);
  BindText(t.get(), 3, table.keyName);
  sqlite3_bind_int64(t.get(), 4, table.identityNext);
  sqlite3_bind_int64(t.get(), 5, table.identityStep);
  Step(db, t.get());
  auto c = Prepare(db, "INSERT INTO " + s +
                           ".__standin_columns(tbl, ordinal, name, type, nullable, is_identity, "
                           "key_ordinal, default_sql) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnDef& col = table.columns[i];
    sqlite3_reset(c.get());
    BindText(c.get(), 1, table.storedName);
    sqlite3_bind_int(c.get(), 2, static_cast<int>(i));
    BindText(c.get(), 3, col.name);
    BindText(c.get(), 4, TypeText(col.type));
    sqlite3_bind_int(c.get(), 5, col.nullable);
    sqlite3_bind_int(c.get(), 6, col.identity);
    sqlite3_bind_int(c.get(), 7, col.keyOrdinal);
    BindText(c.get(), 8, col.defaultSql);
    Step(db, c.get());
  }
}

void ForgetTable(sqlite3* db, const Database& database, const TableDef& table) {
  const std::string s = QuoteId(database.schema);
  for (const char* which :
       {".__standin_tables WHERE name = ?", ".__standin_columns WHERE tbl = ?"}) {
    auto st = Prepare(db, "DELETE FROM " + s + which);
    BindText(st.get(), 1, table.name);
    Step(db, st.get());
  }
}

void StoreIdentity(sqlite3* db, const Database& database, const TableDef& table) {
  auto st = Prepare(db, "UPDATE " + QuoteId(database.schema) +
                            ".__standin_tables SET identity_next = ? WHERE stored = ?");
  sqlite3_bind_int64(st.get(), 1, table.identityNext);
  BindText(st.get(), 2, table.storedName);
  Step(db, st.get());
}

}  // namespace standin
