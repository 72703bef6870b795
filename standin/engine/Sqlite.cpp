#include "standin/engine/Sqlite.h"

#include "standin/engine/SqlError.h"

namespace standin {

SqlError StorageError(sqlite3* db) {
  return MakeError(50000, std::string("The stand-in's storage failed: ") + sqlite3_errmsg(db));
}

StmtPtr Prepare(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  StmtPtr owned(stmt);
  if (rc != SQLITE_OK) throw StorageError(db);
  return owned;
}

void ExecSql(sqlite3* db, std::string_view sql) {
  std::string text(sql);
  char* error = nullptr;
  if (sqlite3_exec(db, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown";
    sqlite3_free(error);
    throw MakeError(50000, "The stand-in's storage failed: " + message);
  }
}

std::string QuoteId(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out += '"';
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string QuoteText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

}  // namespace standin
