#include "standin/engine/EngineCore.h"

#include <filesystem>

#include "standin/engine/Convert.h"
#include "standin/engine/Functions.h"

namespace standin {

namespace {

// Database names become file names: refuse anything that could leave the data folder or
// that the file system would read differently.
bool SafeName(std::string_view name) {
  if (name.empty() || CharCount(name) > 128 || name.front() == '.' || name.front() == ' ')
    return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == '/' || c == '\\' || c == ':' || c == 0x7F) return false;
  return true;
}

}  // namespace

bool IsGlobalTemp(std::string_view name) {
  return name.starts_with("##");
}
bool IsLocalTemp(std::string_view name) {
  return name.starts_with("#") && !name.starts_with("##");
}

EngineCore::EngineCore(std::string dataDir) : dataDir_(std::move(dataDir)) {
  std::error_code ec;
  std::filesystem::create_directories(dataDir_, ec);
  std::string masterPath = (std::filesystem::path(dataDir_) / "master.db").string();
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(masterPath.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK)
    throw MakeError(50000, "The stand-in cannot open " + masterPath + ": " +
                               (raw ? sqlite3_errmsg(raw) : "out of memory"));
  sqlite3_extended_result_codes(db(), 1);
  sqlite3_limit(db(), SQLITE_LIMIT_ATTACHED, 125);
  RegisterFunctions(db(), this);
  InstallUndoHook(*this);
  // A stand-in for tests: a crash of the process keeps the data (WAL), a crash of the machine
  // may not, and no statement waits for the disk.
  ExecSql(db(),
          "PRAGMA main.synchronous=OFF; PRAGMA main.journal_mode=WAL; "
          "PRAGMA main.mmap_size=1073741824;");
  auto master = std::make_unique<Database>();
  master->name = "master";
  master->schema = "main";
  master->path = masterPath;
  LoadCatalog(db(), *master);
  master_ = master.get();
  databases_["master"] = std::move(master);
  // tempdb lives in memory: SQL Server recreates it at every start.
  ExecSql(db(), "ATTACH DATABASE ':memory:' AS tdb");
  auto temp = std::make_unique<Database>();
  temp->name = "tempdb";
  temp->schema = "tdb";
  LoadCatalog(db(), *temp);
  tempdb_ = temp.get();
  databases_["tempdb"] = std::move(temp);
}

EngineCore::~EngineCore() = default;

std::optional<std::string> EngineCore::FileFor(std::string_view name) const {
  if (!SafeName(name)) return std::nullopt;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dataDir_, ec)) {
    const auto& path = entry.path();
    if (path.extension() != ".db") continue;
    std::string stem = path.stem().string();
    if (EqualsNoCaseAscii(stem, name) && entry.is_regular_file(ec)) return path.string();
  }
  return std::nullopt;
}

Database* EngineCore::Attach(std::string name, std::string path) {
  if (scriptTransaction) ExecSql(db(), "COMMIT");
  auto d = std::make_unique<Database>();
  d->name = std::move(name);
  d->schema = "d" + std::to_string(nextSchema_++);
  d->path = std::move(path);
  try {
    auto st = Prepare(db(), "ATTACH DATABASE ? AS " + d->schema);
    sqlite3_bind_text(st.get(), 1, d->path.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st.get()) != SQLITE_DONE) throw StorageError(db());
    // A page cache of 64 MiB (SQLite's default is 2 MiB) keeps the indexes of a large table
    // in memory while a script fills it, instead of spilling the same pages again and again.
    ExecSql(db(), "PRAGMA " + d->schema + ".synchronous=OFF; PRAGMA " + d->schema +
                      ".journal_mode=WAL; PRAGMA " + d->schema + ".cache_size=-65536;");
    LoadCatalog(db(), *d);
  } catch (...) {
    if (scriptTransaction) ExecSql(db(), "BEGIN");
    throw;
  }
  if (scriptTransaction) ExecSql(db(), "BEGIN");
  Database* raw = d.get();
  databases_[raw->name] = std::move(d);
  return raw;
}

Database* EngineCore::Find(std::string_view name) {
  auto it = databases_.find(name);
  if (it != databases_.end()) return it->second.get();
  auto path = FileFor(name);
  if (!path) return nullptr;
  // Report the name as the file spells it, as SQL Server reports the name it was created with.
  return Attach(std::filesystem::path(*path).stem().string(), *path);
}

Database* EngineCore::Create(std::string_view name) {
  if (!SafeName(name) || EqualsNoCaseAscii(name, "master") || EqualsNoCaseAscii(name, "tempdb") ||
      databases_.count(name) || FileFor(name)) {
    if (!SafeName(name))
      throw MakeError(50000, FormatMessage("The stand-in keeps each database in a file of its data "
                                           "folder and cannot name a file '%s'.",
                                           {name}));
    throw MakeError(1801, FormatMessage("Database '%s' already exists. Choose a different database "
                                        "name.",
                                        {name}));
  }
  std::string path = (std::filesystem::path(dataDir_) / (std::string(name) + ".db")).string();
  return Attach(std::string(name), path);
}

EngineCore::Resolved EngineCore::Resolve(const ObjectName& name, const SessionState& session) {
  Resolved r;
  const std::string& table = name.Name();
  std::string_view schema = name.parts.size() >= 2
                                ? std::string_view(name.parts[name.parts.size() - 2])
                                : std::string_view();
  std::string_view database = name.parts.size() == 3 ? std::string_view(name.parts[0]) : "";
  if (!schema.empty() && !EqualsNoCaseAscii(schema, "dbo")) return r;
  if (IsGlobalTemp(table) || IsLocalTemp(table))
    r.database = tempdb_;
  else
    r.database = Find(database.empty() ? std::string_view(session.database) : database);
  if (!r.database) return r;
  r.key = IsLocalTemp(table) ? table + "$" + std::to_string(session.spid) : table;
  r.table = r.database->Find(r.key);
  return r;
}

}  // namespace standin
