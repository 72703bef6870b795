#include "standin/engine/BatchRunner.h"

#include <algorithm>
#include <optional>
#include <variant>

#include "standin/engine/Transactions.h"

namespace standin {

namespace {

// An error on its way from the statement that raised it to the CATCH block that takes it.
// Statements between the two do not see it: it is no SqlError.
struct Caught {
  SqlError error;
};

// Errors SQL Server finds while compiling a statement (also when it compiles one late, as it
// does for names that did not exist when the batch began). A TRY block at the same level
// does not catch them: they end the batch as they would without it.
bool IsCompileError(const SqlError& e) {
  if (e.runTime) return false;
  static constexpr int kCompile[] = {102, 103, 105, 137, 156,  170,  191,
                                     207, 208, 209, 321, 4104, 40517};
  return std::find(std::begin(kCompile), std::end(kCompile), e.message.number) !=
         std::end(kCompile);
}

// Keeps the error a CATCH block handles visible to ERROR_NUMBER() and its kin while it runs.
struct Handling {
  Handling(SessionState& s, ServerMessage m) : session(s) { session.handling.push_back(m); }
  ~Handling() { session.handling.pop_back(); }
  SessionState& session;
};

struct Depth {
  explicit Depth(int& d) : depth(d) { ++depth; }
  ~Depth() { --depth; }
  int& depth;
};

}  // namespace

bool BatchRunner::RunList(const std::vector<Statement>& statements) {
  for (const Statement& statement : statements) {
    if (sink_.Cancelled()) return false;
    if (!RunOne(statement)) return false;
  }
  return true;
}

bool BatchRunner::RunOne(const Statement& statement) {
  if (const auto* block = std::get_if<BlockStmt>(&statement.body))
    return RunList(block->statements);
  if (const auto* t = std::get_if<TryCatchStmt>(&statement.body)) return RunTry(*t);

  StatementStart start{statement.line,
                       text_.substr(statement.begin, statement.end - statement.begin)};
  StepVerdict verdict = sink_.StatementStarting(start);
  if (verdict.kind == StepVerdict::Kind::Drop) return false;

  const Statement* branch = nullptr;
  try {
    if (verdict.kind == StepVerdict::Kind::Fail) {
      SqlError e = MakeError(verdict.number, std::move(verdict.text), 1, 16);
      e.runTime = true;
      throw e;
    }
    const Statement::Body& body = statement.body;
    // Statements that set no count leave @@ROWCOUNT at 0, as SQL Server's do.
    if (std::holds_alternative<UseStmt>(body) || std::holds_alternative<SetStmt>(body) ||
        std::holds_alternative<BeginTranStmt>(body) || std::holds_alternative<EndTranStmt>(body))
      session_.rowCount = 0;
    if (const auto* i = std::get_if<IfStmt>(&body)) {
      branch = executor_.If(*i);
    } else if (const auto* r = std::get_if<RaiserrorStmt>(&body)) {
      Raiserror(*r, statement.line);
    } else {
      executor_.Run(statement, plans_[statement.slot]);
    }
  } catch (SqlError& e) {
    return Failed(statement, e);
  }
  if (executor_.cancelled()) return false;
  // The branch is a statement of its own: its errors carry its own line.
  return branch ? RunOne(*branch) : true;
}

bool BatchRunner::Failed(const Statement& statement, SqlError& e) {
  e.message.line = statement.line;
  session_.rowCount = 0;
  const int severity = e.message.severity;
  if (tryDepth_ > 0 && severity > 10 && severity < 20 && !IsCompileError(e))
    throw Caught{std::move(e)};
  ReportError(sink_, e, statement.line);
  // XACT_ABORT ON: a run-time error rolls any transaction back and ends the batch.
  if (session_.xactAbort && !e.raised) {
    RollbackTransaction(core_, session_, &sink_);
    return false;
  }
  return !e.abortsBatch;
}

bool BatchRunner::RunTry(const TryCatchStmt& s) {
  std::optional<SqlError> caught;
  try {
    Depth inTry(tryDepth_);
    return RunList(s.tryBody);
  } catch (Caught& c) {
    caught = std::move(c.error);
  }
  // The failed statement ends without an error for the client to see.
  sink_.StatementDone(false, 0, false);
  // An error under XACT_ABORT dooms the transaction: nothing of it may be committed, so the
  // CATCH block finds it rolled back.
  if (session_.xactAbort && !caught->raised && session_.tranCount > 0)
    RollbackTransaction(core_, session_, &sink_);
  Handling handling(session_, caught->message);
  return RunList(s.catchBody);
}

void BatchRunner::Raiserror(const RaiserrorStmt& s, int line) {
  session_.rowCount = 0;
  if (s.severity > 18) {
    throw MakeError(2754,
                    "Error severity levels greater than 18 can only be specified by members of "
                    "the sysadmin role, using the WITH LOG option.");
  }
  // SQL Server shows no more than 2,047 characters of a message, the last three an ellipsis.
  std::string text = s.message;
  std::size_t chars = 0, cut = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (chars == 2044) cut = i;
    ++chars;
  }
  if (chars > 2047) text = text.substr(0, cut) + "...";
  // Negative states and severities count as the least ones; no state goes past 255.
  SqlError e = MakeError(50000, std::move(text), s.state < 0 ? 1 : std::min(s.state, 255),
                         std::max(s.severity, 0));
  e.raised = true;
  if (e.message.severity > 10) throw e;
  // Severity 10 and below is a message, not an error: nothing catches it, the batch goes on.
  e.message.line = line;
  sink_.Message(e.message);
  sink_.StatementDone(false, 0, false);
}

}  // namespace standin
