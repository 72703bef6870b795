#pragma once
// Runs a parsed batch's statements for one session: statement blocks, IF, TRY...CATCH and
// RAISERROR, and what each error does to the rest of the batch. Leaf statements go to the
// Executor; the caller holds the engine's mutex as for the Executor.

#include <memory>
#include <string_view>
#include <vector>

#include "standin/engine/Executor.h"
#include "standin/engine/SqlError.h"

namespace standin {

class BatchRunner {
 public:
  // `text` is the request's text the statements were parsed from; `plans` has a slot for
  // every statement of the batch, nested ones included.
  BatchRunner(EngineCore& core, SessionState& session, Executor& executor, ResultSink& sink,
              std::string_view text, std::vector<std::shared_ptr<Plan>>& plans)
      : core_(core),
        session_(session),
        executor_(executor),
        sink_(sink),
        text_(text),
        plans_(plans) {}

  void Run(const std::vector<Statement>& statements) { RunList(statements); }

 private:
  // Each returns false once the batch has ended: an error that ends it, a cancel, a drop.
  bool RunList(const std::vector<Statement>& statements);
  bool RunOne(const Statement& statement);
  bool RunTry(const TryCatchStmt& s);
  void Raiserror(const RaiserrorStmt& s, int line);
  // An error of `statement` outside any TRY block that catches it: reported to the client.
  bool Failed(const Statement& statement, SqlError& e);

  EngineCore& core_;
  SessionState& session_;
  Executor& executor_;
  ResultSink& sink_;
  std::string_view text_;
  std::vector<std::shared_ptr<Plan>>& plans_;
  int tryDepth_ = 0;  // TRY blocks around the running statement
};

}  // namespace standin
