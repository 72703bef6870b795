#include "standin/engine/UndoLog.h"

#include <cstdio>

#include "standin/engine/EngineCore.h"
#include "standin/engine/SqlError.h"

namespace standin {

namespace {

void AppendKeyPart(std::string& out, sqlite3_value* v) {
  switch (v ? sqlite3_value_type(v) : SQLITE_NULL) {
    case SQLITE_INTEGER:
      out += 'i' + std::to_string(sqlite3_value_int64(v));
      break;
    case SQLITE_FLOAT: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "f%.17g", sqlite3_value_double(v));
      out += buf;
      break;
    }
    case SQLITE_TEXT: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
      std::string text(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v)));
      while (!text.empty() && text.back() == ' ') text.pop_back();  // CHAR padding
      for (auto& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      out += 't' + text;
      break;
    }
    case SQLITE_BLOB:
      out += 'b' + std::string(static_cast<const char*>(sqlite3_value_blob(v)),
                               static_cast<std::size_t>(sqlite3_value_bytes(v)));
      break;
    default:
      out += 'n';
  }
  out += '\x1e';
}

void PreUpdate(void* arg, sqlite3* db, int op, const char* schema, const char* table,
               sqlite3_int64 oldRowid, sqlite3_int64 newRowid) {
  Execution* exec = static_cast<EngineCore*>(arg)->current;
  if (!exec || !exec->record) return;
  UndoTarget& target = *exec->record;
  if (target.database->schema != schema || target.table->storedName != table) return;
  UndoEntry e;
  e.database = target.database;
  e.table = target.table;
  e.op = op;
  e.oldRowid = oldRowid;
  e.newRowid = newRowid;
  const int n = sqlite3_preupdate_count(db);
  if (op != SQLITE_INSERT) {
    auto old = std::make_shared<std::vector<ValuePtr>>();
    old->reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      sqlite3_value* v = nullptr;
      sqlite3_preupdate_old(db, i, &v);
      old->emplace_back(sqlite3_value_dup(v));
    }
    e.oldKey = RowKey(*e.table, oldRowid,
                      [&](int i) { return (*old)[static_cast<std::size_t>(i)].get(); });
    e.old = std::move(old);
  }
  if (op != SQLITE_DELETE) {
    e.newKey = RowKey(*e.table, newRowid, [&](int i) {
      sqlite3_value* v = nullptr;
      sqlite3_preupdate_new(db, i, &v);
      return v;
    });
  }
  target.entries.push_back(std::move(e));
}

void Run(sqlite3_stmt* st) {
  if (sqlite3_step(st) != SQLITE_DONE) throw StorageError(sqlite3_db_handle(st));
}

}  // namespace

void InstallUndoHook(EngineCore& core) {
  if (!sqlite3_compileoption_used("ENABLE_PREUPDATE_HOOK"))
    throw MakeError(50000,
                    "The stand-in needs an SQLite built with its pre-update hook "
                    "(SQLITE_ENABLE_PREUPDATE_HOOK) to roll transactions back.");
  sqlite3_preupdate_hook(core.db(), PreUpdate, &core);
}

std::string LockTable(const Database& database, const TableDef& table) {
  // The definition's address tells a table from one dropped and created again under its name
  // (a ## lock table): the holder's undo log keeps the old definition, and so its address,
  // alive for as long as its rows are held.
  return database.schema + "." + table.storedName + "@" +
         std::to_string(reinterpret_cast<std::uintptr_t>(&table));
}

std::string RowKey(const TableDef& table, std::int64_t rowid,
                   const std::function<sqlite3_value*(int)>& column) {
  std::vector<int> key = table.KeyColumns();
  if (key.empty()) return "#" + std::to_string(rowid);
  std::string out;
  for (int i : key) AppendKeyPart(out, column(i));
  return out;
}

void ApplyUndo(EngineCore& core, std::vector<UndoEntry>& entries) {
  Execution* running = core.current;
  core.current = nullptr;  // putting rows back records nothing
  try {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      UndoEntry& e = *it;
      auto live = e.database->tables.find(e.table->storedName);
      if (live == e.database->tables.end() || live->second != e.table) continue;
      const std::string name = QuoteId(e.database->schema) + "." + QuoteId(e.table->storedName);
      const auto& columns = e.table->columns;
      if (e.op == SQLITE_INSERT) {
        auto st = Prepare(core.db(), "DELETE FROM " + name + " WHERE rowid = ?");
        sqlite3_bind_int64(st.get(), 1, e.newRowid);
        Run(st.get());
        continue;
      }
      std::string sql;
      if (e.op == SQLITE_DELETE) {
        sql = "INSERT INTO " + name + "(rowid";
        for (const auto& c : columns) sql += ", " + QuoteId(c.name);
        sql += ") VALUES (?";
        for (std::size_t i = 0; i < columns.size(); ++i) sql += ", ?";
        sql += ")";
      } else {
        sql = "UPDATE " + name + " SET rowid = ?";
        for (const auto& c : columns) sql += ", " + QuoteId(c.name) + " = ?";
        sql += " WHERE rowid = ?";
      }
      auto st = Prepare(core.db(), sql);
      sqlite3_bind_int64(st.get(), 1, e.oldRowid);
      for (std::size_t i = 0; e.old && i < columns.size() && i < e.old->size(); ++i)
        sqlite3_bind_value(st.get(), static_cast<int>(i + 2), (*e.old)[i].get());
      if (e.op == SQLITE_UPDATE)
        sqlite3_bind_int64(st.get(), static_cast<int>(columns.size() + 2), e.newRowid);
      Run(st.get());
    }
  } catch (...) {
    core.current = running;
    entries.clear();
    throw;
  }
  core.current = running;
  entries.clear();
}

}  // namespace standin
