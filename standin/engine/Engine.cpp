#include "standin/Engine.h"

#include <unordered_map>

#include "standin/engine/BatchRunner.h"
#include "standin/engine/Executor.h"
#include "standin/engine/Parser.h"
#include "standin/engine/SqlError.h"
#include "standin/engine/Transactions.h"

namespace standin {

Value Param::AsValue() const {
  Value v;
  if (isNull) return v;
  SqlType t = type.type;
  if (t == SqlType::TinyInt || t == SqlType::SmallInt || t == SqlType::Int ||
      t == SqlType::BigInt || t == SqlType::Bit) {
    v.kind = Value::Kind::Int;
    v.i = i;
  } else if (t == SqlType::Float || t == SqlType::Real) {
    v.kind = Value::Kind::Float;
    v.f = f;
  } else {
    v.kind = Value::Kind::Text;
    v.text = text;
  }
  return v;
}

namespace {

struct ParsedBatch {
  std::vector<Statement> statements;
  std::vector<std::shared_ptr<Plan>> plans;
};

class EngineImpl;

class SessionImpl final : public Session {
 public:
  SessionImpl(EngineImpl& engine, int spid, std::string database);
  ~SessionImpl() override;
  int Spid() const override { return state_.spid; }
  const std::string& Database() const override { return state_.database; }
  void Execute(std::string_view sql, std::span<const Param> params, ResultSink& sink) override;
  bool ExecuteProcedure(std::string_view name, std::span<const Param> params,
                        ResultSink& sink) override;

 private:
  EngineImpl& engine_;
  SessionState state_;
};

class EngineImpl final : public Engine {
 public:
  explicit EngineImpl(const EngineOptions& options) : core_(options.dataDir) {}

  std::unique_ptr<Session> OpenSession(int spid, const std::string& database) override {
    std::lock_guard lock(core_.mutex);
    std::string name = database.empty() ? "master" : database;
    standin::Database* db = core_.Find(name);
    if (!db) {
      ServerError e;
      e.message.number = 4060;
      e.message.severity = 11;
      e.message.text = FormatMessage(
          "Cannot open database \"%s\" requested by the login. The "
          "login failed.",
          {name});
      throw e;
    }
    return std::make_unique<SessionImpl>(*this, spid, db->name);
  }

  void RunScript(std::string_view script) override;

  EngineCore& core() { return core_; }

  // The parsed form of a batch; parsing errors propagate as SqlError.
  std::shared_ptr<ParsedBatch> Parsed(std::string_view sql, bool quotedIdentifier) {
    // A batch this long is a script's or a bulk load's, sent once: keeping it (its text, its
    // statements and their compiled plans) would only hold memory.
    if (sql.size() > kCacheTextLimit) return Parse(sql, quotedIdentifier);
    std::string key;
    key.reserve(sql.size() + 1);
    key += quotedIdentifier ? 'Q' : 'q';
    key += sql;
    auto it = cache_.find(key);
    if (it != cache_.end()) return it->second;
    auto batch = Parse(sql, quotedIdentifier);
    // One-off texts (lock tables, literal-laden statements) would grow the cache without end.
    if (cache_.size() >= kCacheLimit) cache_.clear();
    cache_.emplace(std::move(key), batch);
    return batch;
  }

 private:
  static std::shared_ptr<ParsedBatch> Parse(std::string_view sql, bool quotedIdentifier) {
    auto batch = std::make_shared<ParsedBatch>();
    std::size_t slots = 0;
    batch->statements = ParseBatch(sql, quotedIdentifier, &slots);
    batch->plans.resize(slots);
    return batch;
  }

  static constexpr std::size_t kCacheLimit = 4096;
  static constexpr std::size_t kCacheTextLimit = 64 * 1024;
  EngineCore core_;
  std::unordered_map<std::string, std::shared_ptr<ParsedBatch>> cache_;
};

SessionImpl::SessionImpl(EngineImpl& engine, int spid, std::string database) : engine_(engine) {
  state_.spid = spid;
  state_.database = std::move(database);
}

SessionImpl::~SessionImpl() {
  std::lock_guard lock(engine_.core().mutex);
  EngineCore& core = engine_.core();
  // A session that ends, however it ends, rolls its transaction back and lets its rows go.
  try {
    RollbackTransaction(core, state_, nullptr);
  } catch (const SqlError&) {
    core.locks.ReleaseAll(state_.spid);  // rows that cannot be put back are let go all the same
  }
  // The global temporary tables this session created end with it, as on SQL Server.
  standin::Database* temp = core.Tempdb();
  for (const auto& table : state_.temporaries) {
    auto it = temp->tables.find(table->storedName);
    if (it == temp->tables.end() || it->second != table) continue;  // dropped, maybe re-created
    try {
      ExecSql(core.db(), "DROP TABLE " + QuoteId(temp->schema) + "." + QuoteId(table->storedName));
      ForgetTable(core.db(), *temp, *table);
    } catch (const SqlError&) {
      // A table another session is still reading cannot go now; SQLite keeps it.
      continue;
    }
    temp->tables.erase(it);
    ++temp->version;
  }
}

void SessionImpl::Execute(std::string_view sql, std::span<const Param> params, ResultSink& sink) {
  std::unique_lock lock(engine_.core().mutex);
  std::shared_ptr<ParsedBatch> batch;
  try {
    batch = engine_.Parsed(sql, state_.quotedIdentifier);
  } catch (SqlError& e) {
    ReportError(sink, e, e.message.line);
    return;
  }
  Executor executor(engine_.core(), state_, params, sink, lock);
  BatchRunner(engine_.core(), state_, executor, sink, sql, batch->plans).Run(batch->statements);
}

bool SessionImpl::ExecuteProcedure(std::string_view name, std::span<const Param> params,
                                   ResultSink& sink) {
  std::unique_lock lock(engine_.core().mutex);
  try {
    return RunProcedure(engine_.core(), state_, name, params, sink);
  } catch (SqlError& e) {
    ReportError(sink, e, 1);
    return true;
  }
}

// Records the first error of a script and stops it there.
class ScriptSink final : public ResultSink {
 public:
  void Columns(const std::vector<ColumnInfo>&) override {}
  void Row(std::span<const Value>) override {}
  void StatementDone(bool, std::int64_t, bool) override {}
  void Message(const ServerMessage& m) override {
    if (m.severity > 10 && !failed) {
      failed = true;
      error.message = m;
    }
  }
  void DatabaseChanged(const std::string&, const std::string&) override {}
  bool Cancelled() const override { return failed; }
  bool failed = false;
  ServerError error;
};

bool IsGoLine(std::string_view line) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
    line.remove_suffix(1);
  return line.size() == 2 && (line[0] == 'G' || line[0] == 'g') &&
         (line[1] == 'O' || line[1] == 'o');
}

void EngineImpl::RunScript(std::string_view script) {
  auto session = std::make_unique<SessionImpl>(*this, 0, "master");
  {
    std::lock_guard lock(core_.mutex);
    // One transaction for the whole script: init scripts insert many rows.
    ExecSql(core_.db(), "BEGIN");
    core_.scriptTransaction = true;
  }
  auto finish = [&] {
    std::lock_guard lock(core_.mutex);
    core_.scriptTransaction = false;
    ExecSql(core_.db(), "COMMIT");
  };
  ScriptSink sink;
  std::size_t start = 0;
  try {
    while (start <= script.size() && !sink.failed) {
      std::size_t pos = start;
      std::size_t end = script.size();
      std::size_t next = script.size() + 1;
      // The batch runs to the next line that holds GO alone.
      while (pos < script.size()) {
        std::size_t eol = script.find('\n', pos);
        std::size_t lineEnd = eol == std::string_view::npos ? script.size() : eol;
        if (IsGoLine(script.substr(pos, lineEnd - pos))) {
          end = pos;
          next = lineEnd + 1;
          break;
        }
        pos = lineEnd + 1;
      }
      std::string_view batch = script.substr(start, end - start);
      if (batch.find_first_not_of(" \t\r\n") != std::string_view::npos)
        session->Execute(batch, {}, sink);
      start = next;
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  if (sink.failed) throw sink.error;
}

}  // namespace

std::unique_ptr<Engine> Engine::Create(const EngineOptions& options) {
  try {
    return std::make_unique<EngineImpl>(options);
  } catch (SqlError& e) {
    ServerError error;
    error.message = e.message;
    throw error;
  }
}

}  // namespace standin
