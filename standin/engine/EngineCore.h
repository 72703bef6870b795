#pragma once
// State shared by the engine's parts: the one SQLite connection every database is attached
// to, the attached databases with their catalogs, and the session whose statement is running.
// Everything here is guarded by `mutex`.

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "standin/engine/Catalog.h"
#include "standin/engine/DateTimeText.h"
#include "standin/engine/RowLocks.h"
#include "standin/engine/Sqlite.h"
#include "standin/engine/UndoLog.h"

namespace standin {

struct SessionState {
  int spid = 0;
  std::string database;
  bool quotedIdentifier = true;
  bool nocount = false;
  DateOrder dateOrder = DateOrder::MDY;
  bool hasIdentity = false;
  std::int64_t lastIdentity = 0;
  std::int64_t rowCount = 0;
  int textSize = 2147483647;
  const TableDef* identityInsert = nullptr;            // the table with IDENTITY_INSERT ON
  std::vector<std::shared_ptr<TableDef>> temporaries;  // dropped when the session ends

  int tranCount = 0;                  // @@TRANCOUNT
  std::uint64_t transactionId = 0;    // the open transaction's descriptor, 0 when none
  std::vector<UndoEntry> undo;        // the open transaction's writes, oldest first
  int lockTimeoutMs = -1;             // SET LOCK_TIMEOUT: -1 waits for ever
  bool readUncommitted = false;       // SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED
  bool implicitTransactions = false;  // SET IMPLICIT_TRANSACTIONS ON
  bool xactAbort = false;             // SET XACT_ABORT ON
  // The errors whose CATCH blocks are running, innermost last: what ERROR_NUMBER() and its
  // kin report.
  std::vector<ServerMessage> handling;
};

// What the SQLite functions see while a statement of a session steps.
struct Execution {
  SessionState* session = nullptr;
  std::optional<SqlError> error;
  std::vector<std::string> keyValues;  // the key of the row being written, for 2627
  std::string buffer;
  UndoTarget* record = nullptr;  // where the pre-update hook keeps the rows this statement writes
};

class EngineCore {
 public:
  explicit EngineCore(std::string dataDir);
  ~EngineCore();
  EngineCore(const EngineCore&) = delete;
  EngineCore& operator=(const EngineCore&) = delete;

  std::mutex mutex;
  sqlite3* db() const { return db_.get(); }
  const std::string& dataDir() const { return dataDir_; }

  // The database by name (case-insensitive), attached on first use; nullptr when no such
  // database exists. Names that could leave the data folder never match.
  Database* Find(std::string_view name);
  Database* Tempdb() const { return tempdb_; }
  Database* Master() const { return master_; }
  // Creates <dataDir>/<name>.db; throws SqlError 1801 when it exists.
  Database* Create(std::string_view name);

  // The table an object name denotes for a session: nullptr when absent.
  struct Resolved {
    Database* database = nullptr;
    std::shared_ptr<TableDef> table;
    std::string key;  // name in the database's table map
  };
  Resolved Resolve(const ObjectName& name, const SessionState& session);

  // Temporary tables get a new, negative object id at every creation, as SQL Server gives
  // them: a table dropped and created again under the same name is another object.
  std::int64_t NewTempObjectId() { return --lastTempObjectId_; }

  // Transactions get descriptors of their own, never 0, as SQL Server's ENVCHANGE carries them.
  std::uint64_t NewTransactionId() { return ++lastTransactionId_; }

  RowLocks locks;
  Execution* current = nullptr;    // set while a statement steps
  bool scriptTransaction = false;  // RunScript batches its work in one transaction

 private:
  Database* Attach(std::string name, std::string path);
  std::optional<std::string> FileFor(std::string_view name) const;

  std::string dataDir_;
  DbPtr db_;
  std::map<std::string, std::unique_ptr<Database>, NoCaseLess> databases_;
  Database* master_ = nullptr;
  Database* tempdb_ = nullptr;
  int nextSchema_ = 0;
  std::int64_t lastTempObjectId_ = -1000000;
  std::uint64_t lastTransactionId_ = 0;
};

bool IsGlobalTemp(std::string_view name);
bool IsLocalTemp(std::string_view name);

}  // namespace standin
