#pragma once
// The contract between the stand-in's protocol side (TDS framing, login, tokens, RPC) and its
// T-SQL engine (statements executed on SQLite). The protocol side owns the wire; the engine
// owns databases, types and SQL Server's errors. Nothing here is shared with the system.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// SQL Server column and parameter types the stand-in understands.
enum class SqlType {
  TinyInt,
  SmallInt,
  Int,
  BigInt,
  Bit,
  Float,
  Real,
  Decimal,
  Char,
  VarChar,
  NChar,
  NVarChar,  // Length in characters; -1 means (MAX), a large object
  Text,
  NText,  // large objects
  DateTime,
};

struct ColumnInfo {
  std::string name;
  SqlType type = SqlType::Int;
  int length = 0;                // characters for text types, -1 for (MAX)
  int precision = 0, scale = 0;  // Decimal
  bool nullable = true;
  bool identity = false;
  bool updatable = false;  // a plain column of a base table
  std::string baseTable;   // the table a column comes from, empty for expressions
};

// One value as it crosses the contract. Text is UTF-8. DateTime travels as text
// "yyyy-mm-dd hh:mm:ss.fff", Decimal as its plain decimal text; the wire codec converts them
// by the column's type. `text` only lives as long as the call that hands it over.
struct Value {
  enum class Kind { Null, Int, Float, Text } kind = Kind::Null;
  std::int64_t i = 0;
  double f = 0;
  std::string_view text;
};

// An RPC parameter or a value bound to @P1..@Pn, owning its text.
struct Param {
  std::string name;  // "@P1"; empty for positional
  ColumnInfo type;   // type as declared by the client
  bool isNull = true;
  std::int64_t i = 0;
  double f = 0;
  std::string text;  // for text, DateTime and Decimal values (same forms as Value)
  bool output = false;
  Value AsValue() const;
};

struct ServerMessage {
  int number = 0;
  int state = 1;
  int severity = 16;  // 10 and below is informational
  std::string text;
  int line = 1;
  std::string procedure;
};

// A statement about to run, nested ones included: `line` is where it begins in the request's
// text, `text` the statement itself.
struct StatementStart {
  int line = 1;
  std::string_view text;
};

// What is to happen to that statement: run it, fail it with an error (severity 16, as a
// run-time error, so a TRY block catches it), or drop the session before it runs.
struct StepVerdict {
  enum class Kind { Run, Fail, Drop } kind = Kind::Run;
  int number = 0;
  std::string text;
};

// Where the engine delivers what a batch produces, in order. The protocol side turns each
// call into tokens. For every statement the engine calls StatementDone exactly once, after
// its rows or its error.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  virtual void Columns(const std::vector<ColumnInfo>& columns) = 0;
  virtual void Row(std::span<const Value> values) = 0;
  // hasCount: the statement reports a row count (SELECT rows, or rows affected by DML).
  virtual void StatementDone(bool hasCount, std::int64_t count, bool error) = 0;
  virtual void Message(const ServerMessage& message) = 0;  // error when severity > 10
  virtual void DatabaseChanged(const std::string& oldName, const std::string& newName) = 0;
  // True once the client sent ATTENTION: the engine stops at the next row or statement.
  virtual bool Cancelled() const { return false; }
  // Asked while a statement waits for a row another session holds, when nothing is being sent:
  // looks for an ATTENTION that arrived meanwhile.
  virtual bool PollCancel() { return Cancelled(); }
  // The session's transaction began (outermost BEGIN) or ended; `descriptor` names it, as the
  // ENVCHANGE tokens that tell the client carry it.
  enum class Transaction { Begin, Commit, Rollback };
  virtual void TransactionChanged(Transaction, std::uint64_t /*descriptor*/) {}
  // Asked before each statement runs, nested ones included; after a Drop nothing more is sent.
  virtual StepVerdict StatementStarting(const StatementStart&) { return {}; }
};

// A login-time or session-level failure carrying SQL Server's message (4060, 18456 ...).
struct ServerError {
  ServerMessage message;
};

class Session;

struct EngineOptions {
  std::string dataDir;  // one SQLite file per database: JAIL is <dataDir>/JAIL.db
};

// Thread-safe: many sessions run at once, each on its own thread. Every session must end
// before its engine does.
class Engine {
 public:
  static std::unique_ptr<Engine> Create(const EngineOptions& options);
  virtual ~Engine() = default;
  // Throws ServerError (4060) when the database does not exist; empty means "master".
  virtual std::unique_ptr<Session> OpenSession(int spid, const std::string& database) = 0;
  // Runs a T-SQL script (GO separates batches) as a session of its own; throws ServerError
  // on the first failing statement.
  virtual void RunScript(std::string_view script) = 0;
};

class Session {
 public:
  // Rolls back the open transaction, lets go of its rows and drops the global temporary tables
  // this session created.
  virtual ~Session() = default;
  virtual int Spid() const = 0;
  virtual const std::string& Database() const = 0;
  // Runs a batch; params bind @name markers (sp_executesql) in the text.
  virtual void Execute(std::string_view sql, std::span<const Param> params, ResultSink& sink) = 0;
  // Catalog procedures (sp_pkeys, sp_columns, ...). Returns false when the name is unknown,
  // leaving the sink untouched, so the protocol side can report it.
  virtual bool ExecuteProcedure(std::string_view name, std::span<const Param> params,
                                ResultSink& sink) = 0;
};

}  // namespace standin
